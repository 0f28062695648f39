// A reply read as it streams. The library's parse builds the tree of what the reading reads,
// and each entry of the mission list is examined as soon as it is complete and then released, so
// a reply of any size is read in the memory of about one entry. Everything outside the examined
// entries stays in the tree for what reads it once the parse is done: the service's fault, the
// Header, and the search for an arrival outside the list. Nothing is given until the whole document
// has parsed, so a reply that turns out not to be well-formed gives nothing of its missions.
#include "reading.h"

#include <libxml/parserInternals.h>

#include <climits>

bool with_stations(const ReplyReading &reading)
{
    return reading.wanted == Wanted::first_arrival_with_stations;
}

namespace {

using ParserPtr = std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)>;

const xmlDoc *document_of(const ReplyReading &reading)
{
    return reading.parser->myDoc;
}

bool is_blank_text(const xmlNode *node)
{
    return node != nullptr && node->type == XML_TEXT_NODE && node->content != nullptr &&
           is_blank(std::string_view(reinterpret_cast<const char *>(node->content)));
}

// An indented reply opens its root with the whitespace before its first element. The root's
// first child node is complete by the time anything inside the root's first element is.
bool indented(const ReplyReading &reading)
{
    if (reading.layout != Layout::of_the_reply) {
        return reading.layout == Layout::indented;
    }
    const xmlNode *root = xmlDocGetRootElement(document_of(reading));
    return root != nullptr && is_blank_text(root->children);
}

// An examined entry that is no mission holds one at the platform: an entry built in part was
// searched as its parse went by, one built whole is searched in the tree.
bool arrival_in_wrapper(const ReplyReading &reading, const xmlNode *entry)
{
    if (entry != reading.partial_entry) {
        return arrival_in_wrapper(document_of(reading), entry);
    }
    return reading.arrival_below_entry && !is_mission(entry);
}

// One examined node of the list. The reading of the first arrival examines nothing after it,
// and a reply found in SOAP encoding is refused whatever comes after; the other refusals yield
// to it, so the examination goes on past them.
void examine(ReplyReading &reading, const xmlNode *entry)
{
    const bool stations = with_stations(reading);
    if (reading.sought == Sought::fault || reading.encoded ||
        (reading.arrival_examined && stations)) {
        return;
    }
    reading.examined = true;
    const xmlDoc *document = document_of(reading);
    const bool arriving = train_arrives(document, entry);
    if (entry_encoded(document, entry, arriving) ||
        (arriving && stations && stations_encoded(document, entry))) {
        reading.encoded = true;
        return;
    }
    reading.nested = reading.nested || entry_values_nested(document, entry, arriving) ||
                     (arriving && stations && stations_values_nested(document, entry));
    reading.misdeclared = reading.misdeclared || message_misdeclared(document, entry);
    if (!arriving) {
        reading.missed_inside = reading.missed_inside || arrival_in_wrapper(reading, entry);
        return;
    }
    reading.arrival_examined = true;
    read_arrival(document, entry, stations ? StationNames::read : StationNames::not_read,
                 ValueItems::read, reading.arrivals);
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
    if (entry == reading.partial_entry) {
        reading.partial_entry = nullptr;
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
    reading = ReplyReading{.parser = reading.parser,
                           .layout = reading.layout,
                           .wanted = reading.wanted,
                           .sought = reading.sought,
                           .interned_names = reading.interned_names,
                           .names_interned = reading.names_interned};
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

} // namespace

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

void examine_unbuilt_entry(ReplyReading &reading, bool has_message, bool message_misdeclared,
                           bool arrival_inside)
{
    if (reading.out_of_memory || library_memory_failed()) {
        return;
    }
    const xmlNode *container = reading.container;
    consume_through(reading, container->last);
    if (reading.container != container || reading.sought == Sought::fault || reading.encoded ||
        (reading.arrival_examined && with_stations(reading))) {
        return;
    }
    reading.examined = true;
    reading.misdeclared = reading.misdeclared || message_misdeclared;
    reading.missed_inside = reading.missed_inside || (!has_message && arrival_inside);
}

namespace {

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
            return Outcome::no_list;
        }
        consume_kept_list(reading, container);
    }
    if (reading.encoded) {
        return Outcome::encoded_values;
    }
    if (reading.nested) {
        return Outcome::nested_values;
    }
    if (reading.misdeclared) {
        return Outcome::misdeclared_text;
    }
    if (reading.arrival_examined) {
        return Outcome::reported;
    }
    // A list that gave nothing to examine leaves every element of the reply outside it.
    const xmlNode *first_examined = reading.examined ? reading.first_kept : nullptr;
    if (reading.missed_inside || arrival_outside(document, root, first_examined)) {
        return Outcome::missed_arrival;
    }
    return Outcome::no_train;
}

// What the whole document came to, once it has parsed.
void find_in_reply(ReplyReading &reading, const xmlDoc *document, ReplyFound &found)
{
    const xmlNode *root = xmlDocGetRootElement(document);
    const std::optional<Outcome> refused = refused_root(document);
    const xmlNode *fault = refused ? nullptr : service_fault(root);
    if (fault != nullptr) {
        found.outcome = Outcome::fault;
        found.fault_text = service_fault_text(document, fault);
    } else if (reading.sought == Sought::fault) {
        found.outcome = Outcome::not_a_fault;
    } else if (refused) {
        found.outcome = *refused;
    } else if (reading.out_of_memory) {
        throw std::bad_alloc();
    } else {
        found.outcome = outcome_of_board(reading, document, root);
    }
    if (found.outcome == Outcome::reported) {
        found.arrivals = std::move(reading.arrivals);
    }
}

void ignore_diagnostic(void * /*context*/, xmlError * /*error*/)
{
}

// What a parse that has ended came to: a document that did not parse, or that memory ran short
// of, gives that and nothing else.
ReplyFound found_in_document(const xmlParserCtxt *parser, ReplyReading &reading,
                             const xmlDoc *document)
{
    ReplyFound found;
    if (library_memory_failed() || reading.out_of_memory) {
        found.outcome = Outcome::out_of_memory;
        return found;
    }
    if (document == nullptr || parser->wellFormed == 0) {
        found.outcome = Outcome::not_parsed;
        return found;
    }
    try {
        find_in_reply(reading, document, found);
    } catch (const std::bad_alloc &) {
        found = ReplyFound{.outcome = Outcome::out_of_memory};
    }
    return found;
}

// The parser leaves its document to its caller; the reading reads it through the parser until
// it is released.
ReplyFound found_after_parse(xmlParserCtxt *parser, ReplyReading &reading)
{
    const DocumentPtr document(parser->myDoc, &xmlFreeDoc);
    ReplyFound found = found_in_document(parser, reading, document.get());
    parser->myDoc = nullptr;
    return found;
}

} // namespace

ReplyFound read_reply(const char *docname, Layout layout, Wanted wanted)
{
    const ParserPtr parser(xmlCreateFileParserCtxt(docname), &xmlFreeParserCtxt);
    if (!parser) {
        return ReplyFound{.outcome = library_memory_failed() ? Outcome::out_of_memory
                                                             : Outcome::not_parsed};
    }
    ReplyReading reading{
        .parser = parser.get(), .layout = layout, .wanted = wanted, .sought = Sought::board};
    attach_building(parser.get(), reading);
    xmlParseDocument(parser.get());
    return found_after_parse(parser.get(), reading);
}

// A reading fed as the reply comes in. The parser is made once the first four bytes are there,
// from which it tells the reply's encoding.
struct ReplyStream {
    std::string reply_name;
    ParserPtr parser{nullptr, &xmlFreeParserCtxt};
    ReplyReading reading;
    std::string first_bytes{};
    bool out_of_memory = false;
};

void end_reply_stream(ReplyStream *stream)
{
    if (stream != nullptr && stream->parser && stream->parser->myDoc != nullptr) {
        xmlFreeDoc(stream->parser->myDoc);
        stream->parser->myDoc = nullptr;
    }
    delete stream;
}

ReplyStreamPtr start_reply_stream(const char *reply_name, Layout layout, Wanted wanted,
                                  Sought sought)
{
    ReplyStreamPtr stream(
        new ReplyStream{
            .reply_name = reply_name,
            .reading = {.parser = nullptr, .layout = layout, .wanted = wanted, .sought = sought}},
        &end_reply_stream);
    return stream;
}

namespace {

// One chunk to the push parser. The parser halts on bytes that it cannot convert from the
// declared encoding without marking the document as not well-formed; what it built so far must
// not pass for the whole reply.
void parse_chunk(xmlParserCtxt &parser, const char *bytes, int size, bool last)
{
    const int result = xmlParseChunk(&parser, bytes, size, last ? 1 : 0);
    if (result < 0 || result == XML_ERR_INVALID_ENCODING ||
        (!last && parser.instate == XML_PARSER_EOF)) {
        parser.wellFormed = 0;
    }
}

void create_push_parser(ReplyStream &stream)
{
    stream.parser.reset(xmlCreatePushParserCtxt(nullptr, nullptr, stream.first_bytes.data(),
                                                static_cast<int>(stream.first_bytes.size()),
                                                stream.reply_name.c_str()));
    stream.first_bytes.clear();
    if (!stream.parser) {
        stream.out_of_memory = true;
        return;
    }
    stream.reading.parser = stream.parser.get();
    attach_building(stream.parser.get(), stream.reading);
    if (stream.reading.sought == Sought::fault) {
        stream.parser->sax->serror = ignore_diagnostic;
    }
}

} // namespace

void feed_reply_stream(ReplyStream &stream, std::string_view bytes)
{
    if (stream.out_of_memory) {
        return;
    }
    if (!stream.parser) {
        try {
            stream.first_bytes.append(bytes);
        } catch (const std::bad_alloc &) {
            stream.out_of_memory = true;
            return;
        }
        if (stream.first_bytes.size() >= 4) {
            create_push_parser(stream);
        }
        return;
    }
    // A chunk is handed over in parts the parser's int can count.
    while (!bytes.empty() && stream.parser->instate != XML_PARSER_EOF) {
        const std::size_t part = std::min<std::size_t>(bytes.size(), INT_MAX / 2);
        parse_chunk(*stream.parser, bytes.data(), static_cast<int>(part), false);
        bytes.remove_prefix(part);
    }
}

ReplyFound finish_reply_stream(ReplyStream &stream)
{
    if (!stream.parser && !stream.out_of_memory) {
        create_push_parser(stream);
    }
    if (stream.out_of_memory || !stream.parser) {
        return ReplyFound{.outcome = Outcome::out_of_memory};
    }
    parse_chunk(*stream.parser, nullptr, 0, true);
    return found_after_parse(stream.parser.get(), stream.reading);
}
