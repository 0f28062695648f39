#!/usr/bin/env python3
"""A peer the tools are measured against: the standard library's streaming parser, asked what
quaywatch is asked. Prints the stationsDates of every mission whose train is at the platform,
one per line; it builds no tree, and lets each mission go once it has been read.

    iterparse_peer.py REPLY
"""
import sys
import xml.etree.ElementTree as ElementTree

ARRIVAL = "Train \u00e0 quai"


def local_name(tag):
    return tag.rpartition("}")[2]


def main():
    dates = []
    for _, element in ElementTree.iterparse(sys.argv[1], events=("end",)):
        if local_name(element.tag) != "missions":
            continue
        message = None
        mission_dates = []
        for child in element:
            name = local_name(child.tag)
            if name == "stationsMessages" and message is None:
                message = child.text or ""
            elif name == "stationsDates":
                mission_dates.append(child.text or "")
        if message == ARRIVAL:
            dates.extend(mission_dates)
        element.clear()
    sys.stdout.write("".join(date + "\n" for date in dates))


if __name__ == "__main__":
    main()
