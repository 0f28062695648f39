// A reply read as it streams. The library's file parse builds the tree as it always does, but
// each entry of the mission list is examined as soon as it is complete and then released, so a
// reply of any size is read in the memory of about one entry. Everything outside the examined
// entries stays in the tree for what reads it once the parse is done: the service's fault, the
// Header, and the search for an arrival outside the list. Nothing is printed or appended until
// the whole document has parsed, so a reply that turns out not to be well-formed leaves no trace.
#include "reply.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>

namespace {

using ParserPtr = std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)>;

// Everything one reading holds, from the parse's first callback to its outcome; the parser
// carries it as its user data.
struct ReplyReading {
    // The parse of the reply itself; an entity's replacement text is parsed by another.
    xmlParserCtxt *parser;
    // None: quaywatch's reading, every arriving mission on the console. Given: the per-station
    // reading, the first arriving mission on the console and as a record for this file.
    const char *csvname;
    // Read for a SOAP fault alone: nothing else is reported, nor said.
    bool fault_only = false;
    // The list's container, once the walk down to it is settled.
    xmlNode *container = nullptr;
    // The container is the node at level 3, which a child named stationsMessages still to come
    // would make a mission of a bare list: what a mission's reading takes of it stays meanwhile.
    bool may_be_mission = false;
    bool direction_kept = false;
    bool stations_kept = false;
    // The container has closed, and all its entries are consumed.
    bool list_done = false;
    // A fault's message lies in what the walk takes for the list: it all stays.
    bool keep_entries = false;
    // The entry consumed last, left in the tree while the parser may still add after it.
    xmlNode *last_consumed = nullptr;
    // The first examined node that stays in the tree, where the search outside the list stops.
    const xmlNode *first_kept = nullptr;
    bool message_kept = false;
    bool examined = false;
    // What the entries gave.
    std::string console{};
    std::string record{};
    bool reported = false;
    // The per-station reading examines nothing after its first arriving mission.
    bool arrival_examined = false;
    // An examined entry that is no mission holds one whose train is at the platform.
    bool missed_inside = false;
    // What refuses the reply whole, in this order of precedence.
    bool encoded = false;
    bool nested = false;
    bool misdeclared = false;
    bool out_of_memory = false;
};

bool indented(const ReplyReading &reading)
{
    return reading.csvname == nullptr;
}

const xmlDoc *document_of(const ReplyReading &reading)
{
    return reading.parser->myDoc;
}

void report_mission(ReplyReading &reading, const xmlNode *mission)
{
    const xmlDoc *document = document_of(reading);
    if (reading.csvname == nullptr) {
        print_stationDates(document, mission, ValueItems::read, reading.console);
        print_direction(document, mission, reading.console);
        return;
    }
    print_station(document, mission, reading.console, reading.record);
    print_stationDates(document, mission, reading.console, reading.record);
    print_direction(document, mission, reinterpret_cast<const xmlChar *>("name"), reading.console,
                    reading.record);
    print_direction(document, mission, reinterpret_cast<const xmlChar *>("sens"), reading.console,
                    reading.record);
}

// One examined node of the list. The per-station reading examines nothing after the first
// arriving mission, and a reply found in SOAP encoding is refused whatever comes after; the
// other refusals yield to it, so the examination goes on past them.
void examine(ReplyReading &reading, const xmlNode *entry)
{
    const bool per_station = reading.csvname != nullptr;
    if (reading.fault_only || reading.encoded || (reading.arrival_examined && per_station)) {
        return;
    }
    reading.examined = true;
    const xmlDoc *document = document_of(reading);
    const bool arriving = train_arrives(document, entry);
    if (entry_encoded(document, entry, arriving) ||
        (arriving && per_station && stations_encoded(document, entry))) {
        reading.encoded = true;
        return;
    }
    reading.nested = reading.nested || entry_values_nested(document, entry, arriving) ||
                     (arriving && per_station && stations_values_nested(document, entry));
    reading.misdeclared = reading.misdeclared || message_misdeclared(document, entry);
    if (!arriving) {
        reading.missed_inside = reading.missed_inside || arrival_in_wrapper(document, entry);
        return;
    }
    reading.arrival_examined = true;
    report_mission(reading, entry);
    reading.reported = true;
}

bool text_piece(const xmlNode *node)
{
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
           node->type == XML_ENTITY_REF_NODE;
}

// What of a consumed entry must stay for the reads at the end: the container's own arrival test
// reads its first child named stationsMessages, and a container so named has its text read as a
// message by the test of the element above it.
bool stays(ReplyReading &reading, const xmlNode *entry)
{
    if (reading.keep_entries) {
        return true;
    }
    if (!reading.message_kept && name_is(entry, "stationsMessages")) {
        reading.message_kept = true;
        return true;
    }
    if (reading.may_be_mission) {
        if (name_is(entry, "stationsDates")) {
            return true;
        }
        if (!reading.direction_kept && name_is(entry, "direction")) {
            reading.direction_kept = true;
            return true;
        }
        if (!reading.stations_kept && name_is(entry, "stations")) {
            reading.stations_kept = true;
            return true;
        }
    }
    return name_is(reading.container, "stationsMessages") && text_piece(entry);
}

void release(ReplyReading &reading, xmlNode *entry)
{
    if (stays(reading, entry)) {
        if (reading.first_kept == nullptr) {
            reading.first_kept = entry;
        }
        return;
    }
    xmlUnlinkNode(entry);
    xmlFreeNode(entry);
}

// The list's container, and what it tells at once: a container that refers elsewhere for its
// entries is SOAP encoding.
void take_container(ReplyReading &reading, xmlNode *node)
{
    const xmlNode *root = xmlDocGetRootElement(document_of(reading));
    bool settled = false;
    reading.container = node;
    reading.may_be_mission = node == descent_level_three(root, indented(reading), settled);
    reading.keep_entries = node->parent != nullptr && node->parent->type == XML_ELEMENT_NODE &&
                           name_is(node->parent, "Fault");
    reading.encoded = container_by_reference(node);
}

// The container has turned out to be a mission of a bare list: what its children gave as
// entries is dropped, and the list is read from its parent's entries, by position, the mission
// first. What that mission's reading takes of its children has stayed.
void read_as_bare_list(ReplyReading &reading)
{
    xmlNode *level_two = reading.container->parent;
    reading = ReplyReading{
        .parser = reading.parser, .csvname = reading.csvname, .fault_only = reading.fault_only};
    take_container(reading, level_two);
}

// Examines the entries not yet examined up to `last` (to the end of the list when null) and
// releases them but the last: the parser adds the next node after it, and joins text it adds
// to a text node it finds last.
void consume_through(ReplyReading &reading, const xmlNode *last)
{
    xmlNode *node = reading.last_consumed != nullptr
                        ? reading.last_consumed->next
                        : const_cast<xmlNode *>(next_level(reading.container, indented(reading)));
    xmlNode *previous = reading.last_consumed;
    while (node != nullptr) {
        if (reading.may_be_mission && name_is(node, "stationsMessages")) {
            read_as_bare_list(reading);
            return;
        }
        examine(reading, node);
        if (previous != nullptr) {
            release(reading, previous);
        }
        previous = node;
        if (node == last) {
            break;
        }
        node = node->next;
    }
    reading.last_consumed = previous;
}

// True once the walk down has settled on `node` as the list's container.
bool settle_container(ReplyReading &reading, xmlNode *node)
{
    const xmlNode *root = xmlDocGetRootElement(document_of(reading));
    bool settled = false;
    if (node == nullptr || root == nullptr ||
        mission_list_container(root, indented(reading), settled) != node || !settled) {
        return false;
    }
    take_container(reading, node);
    return true;
}

void element_complete(ReplyReading &reading, xmlNode *element)
{
    if (reading.list_done) {
        return;
    }
    // An entry is known by its parent; a list with no element in it, by its own end.
    if (reading.container == nullptr && !settle_container(reading, element->parent) &&
        !settle_container(reading, element)) {
        return;
    }
    if (element->parent == reading.container) {
        consume_through(reading, element);
    } else if (element == reading.container) {
        consume_through(reading, nullptr);
        if (reading.last_consumed != nullptr) {
            release(reading, reading.last_consumed);
            reading.last_consumed = nullptr;
        }
        reading.list_done = true;
    }
}

// The tree builder's own end of an element, and then the entry that it may complete.
void element_ended(void *context, const xmlChar *local_name, const xmlChar *prefix,
                   const xmlChar *namespace_name)
{
    auto *parser = static_cast<xmlParserCtxt *>(context);
    xmlNode *element = parser->node;
    xmlSAX2EndElementNs(context, local_name, prefix, namespace_name);
    auto *reading = static_cast<ReplyReading *>(parser->_private);
    if (reading == nullptr || parser != reading->parser || element == nullptr ||
        reading->out_of_memory || library_memory_failed()) {
        return;
    }
    // No exception may cross the library's frames.
    try {
        element_complete(*reading, element);
    } catch (const std::bad_alloc &) {
        reading->out_of_memory = true;
    }
}

// The record is appended only when every value of it was read. The console has its lines first,
// so that a signal held back while the record goes in, and ending the run after it, does not
// cost it them.
Outcome log_record(const ReplyReading &reading)
{
    require_library_memory();
    write_reports(reading.console);
    return append_record(reading.csvname, reading.record) ? Outcome::reported
                                                          : Outcome::record_not_appended;
}

// The entries of a list that the walk settled on only once the tree was whole.
void consume_kept_list(ReplyReading &reading, xmlNode *container)
{
    take_container(reading, container);
    const xmlNode *first = next_level(container, indented(reading));
    reading.first_kept = first;
    for (const xmlNode *entry = first; entry != nullptr; entry = entry->next) {
        examine(reading, entry);
    }
}

Outcome outcome_of_board(ReplyReading &reading, const xmlDoc *document, const xmlNode *root)
{
    if (reading.container == nullptr) {
        bool settled = false;
        auto *container =
            const_cast<xmlNode *>(mission_list_container(root, indented(reading), settled));
        if (container == nullptr) {
            write_diagnostic("no mission list in document\n");
            return Outcome::no_list;
        }
        consume_kept_list(reading, container);
    }
    if (reading.encoded) {
        write_diagnostic("mission values in SOAP encoding not read\n");
        return Outcome::encoded_values;
    }
    if (reading.nested) {
        write_diagnostic("mission values in nested elements not read\n");
        return Outcome::nested_values;
    }
    if (reading.misdeclared) {
        write_diagnostic("reply text not in its declared encoding\n");
        return Outcome::misdeclared_text;
    }
    if (reading.reported) {
        if (reading.csvname != nullptr) {
            return log_record(reading);
        }
        write_reports(reading.console);
        return Outcome::reported;
    }
    // A list that gave nothing to examine leaves every element of the reply outside it.
    const xmlNode *first_examined = reading.examined ? reading.first_kept : nullptr;
    if (reading.missed_inside || arrival_outside(document, root, first_examined)) {
        write_diagnostic("arriving mission outside the mission list\n");
        return Outcome::missed_arrival;
    }
    return Outcome::no_train;
}

Outcome outcome_of_fault(const xmlDoc *document)
{
    const xmlNode *root = xmlDocGetRootElement(document);
    const xmlNode *fault =
        root != nullptr && name_is(root, "Envelope") ? service_fault(root) : nullptr;
    if (fault == nullptr) {
        return Outcome::refused_document;
    }
    report_service_fault(document, fault);
    return Outcome::fault;
}

Outcome outcome_of_reply(ReplyReading &reading, const xmlDoc *document)
{
    if (reading.fault_only) {
        return outcome_of_fault(document);
    }
    if (!root_accepted(document, "Envelope", "document of the wrong type\n")) {
        return Outcome::refused_document;
    }
    const xmlNode *root = xmlDocGetRootElement(document);
    if (const xmlNode *fault = service_fault(root); fault != nullptr) {
        report_service_fault(document, fault);
        return Outcome::fault;
    }
    if (reading.out_of_memory) {
        throw std::bad_alloc();
    }
    return outcome_of_board(reading, document, root);
}

void ignore_diagnostic(void * /*context*/, xmlError * /*error*/)
{
}

// The parse and the reading that every reply goes through, whatever it is read from.
Outcome read_parsed(xmlParserCtxt *parser, const char *csvname, bool fault_only)
{
    if (parser == nullptr) {
        if (!fault_only) {
            write_diagnostic("document not parsed successfully\n");
        }
        return Outcome::refused_document;
    }
    ReplyReading reading{.parser = parser, .csvname = csvname, .fault_only = fault_only};
    parser->_private = &reading;
    parser->sax->endElementNs = element_ended;
    if (fault_only) {
        parser->sax->serror = ignore_diagnostic;
    }
    xmlParseDocument(parser);
    // The parser leaves its document to its caller.
    const DocumentPtr document(parser->myDoc, &xmlFreeDoc);
    if (!document || parser->wellFormed == 0 || library_memory_failed()) {
        if (!fault_only) {
            write_diagnostic("document not parsed successfully\n");
        }
        return Outcome::refused_document;
    }
    Outcome outcome = Outcome::out_of_memory;
    const bool completed =
        reports_completed([&] { outcome = outcome_of_reply(reading, document.get()); });
    return completed ? outcome : Outcome::out_of_memory;
}

// A parse of bytes in memory, whose diagnostics name them as given.
ParserPtr memory_parser(std::string_view reply, const char *reply_name)
{
    if (reply.size() > static_cast<std::size_t>(INT_MAX)) {
        return {nullptr, &xmlFreeParserCtxt};
    }
    ParserPtr parser(xmlCreateMemoryParserCtxt(reply.data(), static_cast<int>(reply.size())),
                     &xmlFreeParserCtxt);
    if (parser && parser->input != nullptr && parser->input->filename == nullptr) {
        parser->input->filename = reinterpret_cast<const char *>(
            xmlStrdup(reinterpret_cast<const xmlChar *>(reply_name)));
    }
    return parser;
}

} // namespace

Outcome read_reply(const char *docname, const char *csvname)
{
    const ParserPtr parser(xmlCreateFileParserCtxt(docname), &xmlFreeParserCtxt);
    return read_parsed(parser.get(), csvname, false);
}

Outcome read_reply_in_memory(std::string_view reply, const char *reply_name, const char *csvname)
{
    const ParserPtr parser = memory_parser(reply, reply_name);
    return read_parsed(parser.get(), csvname, false);
}

Outcome read_fault_in_memory(std::string_view reply, const char *reply_name)
{
    const ParserPtr parser = memory_parser(reply, reply_name);
    return read_parsed(parser.get(), nullptr, true);
}

int exit_status(Outcome outcome)
{
    switch (outcome) {
    case Outcome::fault:
    case Outcome::refused_document:
    case Outcome::out_of_memory:
        return 0;
    default:
        return 1;
    }
}
