// Unit tests of the mission record functions (element text, the arrival test, the reports) and
// of the marks of SOAP encoding.
#include "tool.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

DocumentPtr parse(const std::string &xml)
{
    return DocumentPtr(xmlParseMemory(xml.data(), static_cast<int>(xml.size())), &xmlFreeDoc);
}

const xmlNode *root_of(const DocumentPtr &document)
{
    return xmlDocGetRootElement(document.get());
}

std::string mission_with_message(const std::string &message_element)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><missions>" + message_element +
           "<stationsDates>07:42</stationsDates></missions>";
}

std::string read_file(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Element text must read exactly as the library's own in-line string of the element's
// children, null included.
void expect_text_as_library(xmlDoc *document, const xmlNode *node, const std::string &where)
{
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        xmlChar *library_text = xmlNodeListGetString(document, node->children, 1);
        const std::optional<std::string> text = element_text(document, node);
        ASSERT_EQ(text.has_value(), library_text != nullptr) << where << " <" << node->name << ">";
        if (library_text != nullptr) {
            EXPECT_EQ(*text, reinterpret_cast<const char *>(library_text))
                << where << " <" << node->name << ">";
        }
        xmlFree(library_text);
        expect_text_as_library(document, node->children, where);
    }
}

// Documents of the suite that are meant not to parse would fill the test log.
void ignore_diagnostic(void * /*context*/, const char * /*format*/, ...)
{
}

std::vector<fs::path> suite_documents()
{
    std::vector<fs::path> documents;
    for (const char *folder : {CASES_DIR, EXAMPLES_DIR}) {
        for (const auto &entry : fs::recursive_directory_iterator(folder)) {
            const fs::path &path = entry.path();
            if (entry.is_regular_file() &&
                (path.extension() == ".xml" || path.filename() == "stdin")) {
                documents.push_back(path);
            }
        }
    }
    return documents;
}

TEST(ElementText, ReadsAsTheLibraryOnEveryDocumentOfTheSuite)
{
    const std::vector<fs::path> documents = suite_documents();
    ASSERT_GT(documents.size(), 20U);
    int parsed = 0;
    for (const fs::path &path : documents) {
        xmlSetGenericErrorFunc(nullptr, ignore_diagnostic);
        const DocumentPtr document(xmlParseFile(path.c_str()), &xmlFreeDoc);
        xmlSetGenericErrorFunc(nullptr, nullptr);
        if (document) {
            ++parsed;
            expect_text_as_library(document.get(), root_of(document), path.string());
        }
    }
    EXPECT_GT(parsed, 20);
}

TEST(ElementText, ReadsAsTheLibraryOnEntitiesCdataAndEmptyPieces)
{
    const DocumentPtr document =
        parse("<!DOCTYPE r [<!ENTITY empty ''><!ENTITY inner 'in&#x41;'>"
              "<!ENTITY outer '[&inner;<![CDATA[cd]]>&inner;]'><!ENTITY tagged '<b>x</b>tail'>]>"
              "<r><a>&empty;</a><b><![CDATA[]]></b><c>&outer;&amp;&outer;</c><d>&tagged;</d>"
              "<e>one<!-- c -->two<?pi x?>three<f>no</f></e><g/><h>\n  </h><i>&#xE0;&lt;</i></r>");
    ASSERT_TRUE(document);
    expect_text_as_library(document.get(), root_of(document), "inline");
    const xmlNode *c = first_child_named(root_of(document), "c");
    EXPECT_EQ(element_text(document.get(), c), "[inAcdinA]&[inAcdinA]");
    EXPECT_FALSE(element_text(document.get(), first_child_named(root_of(document), "a")));
    EXPECT_EQ(element_text(document.get(), first_child_named(root_of(document), "b")), "");
}

TEST(NameMatch, TheWholeNameByteForByte)
{
    const DocumentPtr document =
        parse("<missions><stations/><stationsDates/><sens/><s/><Stations/></missions>");
    ASSERT_TRUE(document);
    const std::vector<std::string_view> element_names = {"stations", "stationsDates", "sens", "s",
                                                         "Stations"};
    const std::vector<const char *> wanted = {"stations", "stationsDates", "sens",         "s",
                                              "Stations", "station",       "stationsDate", ""};
    const xmlNode *element = root_of(document)->children;
    for (const std::string_view element_name : element_names) {
        ASSERT_NE(element, nullptr);
        for (const char *name : wanted) {
            EXPECT_EQ(name_is(element, name), element_name == name)
                << element_name << " vs " << name;
        }
        element = element->next;
    }
    xmlNode nameless{};
    EXPECT_FALSE(name_is(&nameless, "stations"));
    EXPECT_FALSE(name_is(&nameless, ""));
}

TEST(TrainArrives, OnlyTheExactTextOfTheFirstMessage)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"<stationsMessages>Train \xC3\xA0 quai</stationsMessages>", true},
        {"<stationsMessages>Train &#xE0; quai</stationsMessages>", true},
        {"<stationsMessages>Train <!-- x -->\xC3\xA0 quai</stationsMessages>", true},
        {"<stationsMessages> Train \xC3\xA0 quai</stationsMessages>", false},
        {"<stationsMessages>Train \xC3\xA0 quai\n</stationsMessages>", false},
        {"<stationsMessages>Train \xC3\xA0 qua</stationsMessages>", false},
        {"<stationsMessages>Train \xC3\xA0 quai!</stationsMessages>", false},
        {"<stationsMessages>train \xC3\xA0 quai</stationsMessages>", false},
        {"<stationsMessages>Train a quai</stationsMessages>", false},
        {"<stationsMessages/>", false},
        {"<stationsMessages><b>Train \xC3\xA0 quai</b></stationsMessages>", false},
        {"<stationsMessages>Parti</stationsMessages>"
         "<stationsMessages>Train \xC3\xA0 quai</stationsMessages>",
         false},
        {"<StationsMessages>Train \xC3\xA0 quai</StationsMessages>", false},
        {"", false},
    };
    for (const auto &[message, arrives] : cases) {
        const DocumentPtr document = parse(mission_with_message(message));
        ASSERT_TRUE(document) << message;
        EXPECT_EQ(train_arrives(document.get(), root_of(document)), arrives) << message;
    }
}

TEST(TrainArrives, NodesWithoutChildrenNeverArrive)
{
    const DocumentPtr document =
        parse("<missions>\n  <stationsDates>7</stationsDates>\n</missions>");
    ASSERT_TRUE(document);
    const xmlNode *whitespace = root_of(document)->children;
    ASSERT_EQ(whitespace->type, XML_TEXT_NODE);
    EXPECT_FALSE(train_arrives(document.get(), whitespace));
    EXPECT_FALSE(train_arrives(document.get(), whitespace->next));
}

const char *const reported_mission =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<missions><stationsMessages>Train \xC3\xA0 quai</stationsMessages>"
    "<stations><name>S1</name><code>x</code><name>S2</name></stations>"
    "<stations><name>not this one</name></stations>"
    "<stationsDates>D1</stationsDates><other><stationsDates>nested</stationsDates></other>"
    "<stationsDates>D2</stationsDates>"
    "<direction><sens>E</sens><name>N1</name><name>N2</name></direction>"
    "<direction><name>second</name></direction></missions>";

TEST(ConsoleReports, PrintEveryValueInDocumentOrder)
{
    const DocumentPtr document = parse(reported_mission);
    ASSERT_TRUE(document);
    Arrivals arrivals;
    read_arrival(document.get(), root_of(document), StationNames::not_read, ValueItems::not_read,
                 arrivals);
    EXPECT_EQ(every_arrival_lines(arrivals),
              "stationsDates: D1\nstationsDates: D2\n"
              "direction->sens: E\ndirection->name: N1\ndirection->name: N2\n");
}

class CsvReports : public testing::Test {
  protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() /
                 ("quaywatch-test-" + std::to_string(::getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
        csv = folder / "arrivals.csv";
    }
    void TearDown() override
    {
        fs::remove_all(folder);
    }

    // The four calls that make up one record, as the per-station tool makes them, and the
    // record's append.
    std::string report(const std::string &xml)
    {
        const DocumentPtr document = parse(xml);
        EXPECT_TRUE(document);
        const xmlNode *mission = root_of(document);
        Arrivals arrivals;
        read_arrival(document.get(), mission, StationNames::read, ValueItems::read, arrivals);
        std::string console = first_arrival_lines(arrivals);
        const std::string record = first_arrival_record(arrivals);
        testing::internal::CaptureStderr();
        appended = append_record(csv.c_str(), record);
        append_message = testing::internal::GetCapturedStderr();
        return console;
    }

    // What append_record says of a record it cannot append, and its answer.
    static std::string refusal(const std::string &csvname, std::string_view record)
    {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(append_record(csvname.c_str(), record));
        return testing::internal::GetCapturedStderr();
    }

    bool appended = false;
    std::string append_message;
    fs::path folder;
    fs::path csv;
};

TEST_F(CsvReports, OneRecordPerMissionAfterWhatTheFileHeld)
{
    std::ofstream(csv) << "\n,old,record";
    EXPECT_EQ(report(reported_mission), "station: S1\nstation: S2\n"
                                        "stationsDates: D1\nstationsDates: D2\n"
                                        "direction->name: N1\ndirection->name: N2\n"
                                        "direction->sens: E\n");
    EXPECT_EQ(read_file(csv), "\n,old,record\n,S1\n,S2,D1,D2,N1,N2,E");
}

TEST_F(CsvReports, OneStationGivesOneLine)
{
    report("<missions><stations><name>S</name></stations><stationsDates>D</stationsDates>"
           "<direction><name>N</name><sens>E</sens></direction></missions>");
    EXPECT_EQ(read_file(csv), "\n,S,D,N,E");
}

TEST_F(CsvReports, ValuesThatWouldBreakTheRecordAreQuoted)
{
    report("<missions><stations><name>Ambry, Upper</name><name>\"Est\"</name></stations>"
           "<stationsDates>07:42\n07:44</stationsDates><stationsDates>a&#13;b</stationsDates>"
           "<direction><name>plain \xC3\xA0 value</name><sens>say "
           "\"A\"</sens></direction></missions>");
    EXPECT_EQ(read_file(csv), "\n,\"Ambry, Upper\"\n,\"\"\"Est\"\"\",\"07:42\n07:44\",\"a\rb\","
                              "plain \xC3\xA0 value,\"say \"\"A\"\"\"");
}

TEST_F(CsvReports, MissingStationsAndTextsLeaveEmptyFields)
{
    EXPECT_EQ(report("<missions><stationsDates/><direction><name/><sens>E</sens></direction>"
                     "</missions>"),
              "stationsDates: \ndirection->name: \ndirection->sens: E\n");
    report("<missions><stations><code>no names</code></stations><stationsDates>D</stationsDates>"
           "</missions>");
    EXPECT_EQ(read_file(csv), "\n,,,,E\n,,D");
}

TEST_F(CsvReports, AFieldTheDirectionLacksAddsNothing)
{
    EXPECT_EQ(report("<missions><stations><name>S</name></stations><direction><name>N</name>"
                     "</direction></missions>"),
              "station: S\ndirection->name: N\n");
    EXPECT_EQ(read_file(csv), "\n,S,N");
}

TEST_F(CsvReports, AnUnopenablePathStillPrintsTheValues)
{
    csv = folder / "missing-folder" / "arrivals.csv";
    EXPECT_EQ(report("<missions><stations><name>S</name></stations></missions>"), "station: S\n");
    EXPECT_FALSE(appended);
    EXPECT_EQ(append_message,
              "record not appended to " + csv.string() + ": No such file or directory\n");
    EXPECT_FALSE(fs::exists(csv.parent_path()));
}

TEST_F(CsvReports, ANewLogTakesTheDefaultPermissions)
{
    const mode_t previous = ::umask(027);
    EXPECT_TRUE(append_record(csv.c_str(), "\n,S"));
    ::umask(previous);
    EXPECT_EQ(fs::status(csv).permissions(), fs::perms(0640));
    EXPECT_EQ(read_file(csv), "\n,S");
}

// Paths that take no record report why, and leave what they hold as it was.
TEST_F(CsvReports, APathThatTakesNoRecordGivesTheReason)
{
    EXPECT_EQ(refusal(folder, "\n,S"),
              "record not appended to " + folder.string() + ": Is a directory\n");
    ASSERT_EQ(::mkfifo(csv.c_str(), 0600), 0);
    EXPECT_EQ(refusal(csv, "\n,S"),
              "record not appended to " + csv.string() + ": No such device or address\n");
    EXPECT_EQ(refusal("/dev/full", "\n,S"),
              "record not appended to /dev/full: No space left on device\n");
    EXPECT_TRUE(append_record("/dev/null", "\n,S"));
}

} // namespace

namespace {

// An arriving mission whose element at `marked` carries `attribute`; every element that a report
// reads is named in `read_elements`.
std::string mission_marked(const std::string &marked, const std::string &attribute)
{
    const auto at = [&](const char *element) { return marked == element ? " " + attribute : ""; };
    return std::string("<missions xmlns:e11='http://schemas.xmlsoap.org/soap/encoding/' "
                       "xmlns:e12='http://www.w3.org/2003/05/soap-encoding' "
                       "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'") +
           at("missions") + "><stationsMessages" + at("stationsMessages") +
           ">Train \xC3\xA0 quai</stationsMessages><stations" + at("stations") + "><name" +
           at("stations/name") + ">S</name></stations><stationsDates" + at("stationsDates") +
           ">D</stationsDates><direction" + at("direction") + "><name" + at("direction/name") +
           ">N</name><sens" + at("direction/sens") + ">A</sens></direction><other" + at("other") +
           "/></missions>";
}

} // namespace

TEST(SoapEncoding, EveryMarkerOnEveryElementRead)
{
    const char *const markers[] = {"href='#v1'",
                                   "e12:ref='v1'",
                                   "e11:arrayType='x[2]'",
                                   "e12:arrayType='x[2]'",
                                   "e11:itemType='x'",
                                   "e12:arraySize='2'",
                                   "xsi:type='xsd:base64Binary'",
                                   "xsi:type='base64'"};
    const char *const look_alikes[] = {"e11:href='#v1'",        "ref='v1'",
                                       "arrayType='x[2]'",      "xsi:arrayType='x'",
                                       "xsi:type='xsd:string'", "type='base64Binary'",
                                       "e11:encodingStyle='x'"};
    const char *const elements[] = {"missions",  "stationsMessages", "stationsDates",
                                    "direction", "direction/name",   "direction/sens",
                                    "stations",  "stations/name",    "other"};
    for (const char *element : elements) {
        const std::string where(element);
        const bool stations = where.starts_with("stations/") || where == "stations";
        for (const char *marker : markers) {
            const DocumentPtr document = parse(mission_marked(where, marker));
            ASSERT_TRUE(document);
            const xmlNode *mission = root_of(document);
            EXPECT_EQ(entry_encoded(document.get(), mission, true), !stations && where != "other")
                << marker << " on " << where;
            EXPECT_EQ(stations_encoded(document.get(), mission), stations)
                << marker << " on " << where;
            // Of a mission that is not reported, only the entry and its message are read.
            EXPECT_EQ(entry_encoded(document.get(), mission, false),
                      where == "missions" || where == "stationsMessages")
                << marker << " on " << where;
        }
        for (const char *look_alike : look_alikes) {
            const DocumentPtr document = parse(mission_marked(where, look_alike));
            ASSERT_TRUE(document);
            EXPECT_FALSE(entry_encoded(document.get(), root_of(document), true)) << look_alike;
            EXPECT_FALSE(stations_encoded(document.get(), root_of(document))) << look_alike;
        }
    }
}
