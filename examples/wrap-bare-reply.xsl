<?xml version="1.0" encoding="UTF-8"?>
<!--
  Turns a "bare" reply, whose missions sit directly in the response element, into the wrapped
  layout that quaywatch and quaywatch_per_station read, by putting the response's content into
  one more element, missionList. A mission is an element with a stationsMessages child, whatever
  its own name (missions, getBoardResult, getBoardReturn, ...). Every other reply, a wrapped board or a fault, comes out as it
  went in, so the stylesheet can stand in any pipeline:

    curl ... | xsltproc wrap-bare-reply.xsl - | quaywatch_per_station - arrivals.csv

  An indented reply stays indented: the line break before the missions goes before missionList
  too, so that each level still opens with whitespace.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8"/>
  <xsl:template match="@*|node()">
    <xsl:copy>
      <xsl:apply-templates select="@*|node()"/>
    </xsl:copy>
  </xsl:template>

  <xsl:template match="/*/*[local-name()='Body']/*[1][*[*[local-name()='stationsMessages']]]">
    <xsl:copy>
      <xsl:apply-templates select="@*"/>
      <xsl:copy-of select="node()[1][self::text()]"/>
      <xsl:element name="missionList" namespace="{namespace-uri()}">
        <xsl:apply-templates select="node()"/>
      </xsl:element>
    </xsl:copy>
  </xsl:template>
</xsl:stylesheet>
