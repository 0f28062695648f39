// The tree of a reply, built only where the reading reads it. Outside the mission list every
// node is built. Inside an entry of the list, the children that the arrival test, the reports and
// the checks read are built (its first message, its dates, its first direction's name and sens,
// and, for the per-station reading, its first stations' names), with every processing
// instruction and entity reference, which are matched by name as elements are; the rest is
// parsed and checked as ever but never built. The search for an arrival inside an entry that is
// no mission reads every element's first message as the parse goes by. Once the per-station
// reading has its arrival, the rest of the list is not built at all.
#include "reading.h"

#include <libxml/SAX2.h>

#include <climits>

namespace {

constexpr std::array<const char *, read_name_count> read_names = {
    "stationsMessages", "stationsDates", "direction", "stations", "name", "sens"};

// Which read name a node has. An element's name comes from the parser's dictionary, so that the
// same name is the same pointer; other names are compared byte for byte.
ReadName read_name_of(const ReplyReading &reading, const xmlChar *name, bool from_dictionary)
{
    // Most names an entry holds begin with none of the read names' first letters.
    if (name == nullptr || (name[0] != 's' && name[0] != 'd' && name[0] != 'n')) {
        return ReadName::other;
    }
    for (std::size_t index = 0; index < read_name_count; ++index) {
        if (name == reading.interned_names[index]) {
            return static_cast<ReadName>(index + 1);
        }
    }
    if (from_dictionary && reading.names_interned) {
        return ReadName::other;
    }
    for (std::size_t index = 0; index < read_name_count; ++index) {
        if (is_element_name(name, read_names[index])) {
            return static_cast<ReadName>(index + 1);
        }
    }
    return ReadName::other;
}

// An entry named like a field of a mission is built whole: the container it stands in may yet
// turn out to be a mission whose reading takes it, or its text may be read as a message.
bool is_field_name(ReadName name)
{
    return name == ReadName::message || name == ReadName::dates || name == ReadName::direction ||
           name == ReadName::stations;
}

// The reading the parser carries, when the parser is the reply's own and has not stopped at a
// fatal error: past one, the library still hands over some text and references, to a tree that
// it has already left, and the reply gives nothing whatever is built then.
ReplyReading *reading_of(void *context)
{
    auto *parser = static_cast<xmlParserCtxt *>(context);
    auto *reading = static_cast<ReplyReading *>(parser->_private);
    return reading != nullptr && reading->parser == parser && parser->disableSAX == 0 ? reading
                                                                                      : nullptr;
}

bool rest_of_list_unread(const ReplyReading &reading)
{
    return reading.arrival_examined && with_stations(reading);
}

// True when the parse stands right inside the settled list, where a node is an entry.
bool in_list(const ReplyReading &reading)
{
    return reading.container != nullptr && !reading.list_done && !reading.keep_entries &&
           reading.sought == Sought::board && reading.parser->node == reading.container;
}

// Text right inside the list is not built once the list's first two nodes are, which tell where
// its entries begin; a comment, once the rest of the list is unread. A list named as a message
// has its text read.
bool list_node_unbuilt(const ReplyReading &reading, bool comment)
{
    if (!in_list(reading) || name_is(reading.container, "stationsMessages")) {
        return false;
    }
    const xmlNode *first = reading.container->children;
    return rest_of_list_unread(reading) || (!comment && first != nullptr && first->next != nullptr);
}

Build entry_build(const ReplyReading &reading, ReadName name)
{
    if (is_field_name(name)) {
        return Build::whole;
    }
    return rest_of_list_unread(reading) ? Build::skipped : Build::entry;
}

bool may_arrive(const OpenElement &entry)
{
    return entry.first_message != FirstMessage::not_arriving;
}

Build child_build(const ReplyReading &reading, const OpenElement &parent, ReadName name)
{
    switch (parent.build) {
    case Build::whole:
    case Build::held:
        return Build::whole;
    case Build::skipped:
        return Build::skipped;
    case Build::direction:
        return name == ReadName::name || name == ReadName::sens ? Build::whole : Build::skipped;
    case Build::stations:
        return name == ReadName::name ? Build::whole : Build::skipped;
    case Build::entry:
        break;
    }
    if (name == ReadName::message) {
        return parent.first_message == FirstMessage::none ? Build::whole : Build::skipped;
    }
    if (!may_arrive(parent)) {
        return Build::skipped;
    }
    if (name == ReadName::dates) {
        return Build::whole;
    }
    if (name == ReadName::direction && !parent.direction_seen) {
        return Build::direction;
    }
    if (name == ReadName::stations && !parent.stations_seen && with_stations(reading)) {
        return Build::stations;
    }
    return Build::skipped;
}

// True while the entry open has no message: it may be a wrapper, whose elements are all searched
// for an arrival.
bool searching(const ReplyReading &reading)
{
    return reading.open_elements.front().first_message == FirstMessage::none;
}

// Whether the first message of an element is gathered: the entry's own tells whether it arrives,
// and one further down matters while the entry is searched.
bool gathers(const ReplyReading &reading, const OpenElement &parent)
{
    return &parent == &reading.open_elements.front() || searching(reading);
}

// Notes a child of the innermost open element by its name, whatever its kind; gives whether it
// is an element whose text is to be gathered.
bool note_child(ReplyReading &reading, ReadName name, bool is_element)
{
    OpenElement &parent = reading.open_elements.back();
    bool gathering = false;
    if (parent.first_message == FirstMessage::none && name == ReadName::message) {
        gathering = is_element && gathers(reading, parent);
        parent.first_message = is_element ? FirstMessage::open : FirstMessage::not_arriving;
    }
    if (parent.build == Build::entry) {
        parent.direction_seen = parent.direction_seen || name == ReadName::direction;
        parent.stations_seen = parent.stations_seen || name == ReadName::stations;
    }
    return gathering;
}

// A first message that has ended: the entry's tells whether the entry arrives, one further
// down whether the entry holds an arrival.
void message_ended(ReplyReading &reading, const OpenElement &message)
{
    const bool arrives =
        is_arrival_text(std::string_view(reading.gathered_text).substr(message.text_start));
    reading.gathered_text.resize(message.text_start);
    OpenElement &parent = reading.open_elements.back();
    parent.first_message = arrives ? FirstMessage::arriving : FirstMessage::not_arriving;
    if (reading.open_elements.size() > 1 && arrives) {
        reading.arrival_below_entry = true;
    }
}

// Memory ran short inside the building: the parse stops where it stands, and the reading gives
// out of memory.
void stop_short_of_memory(ReplyReading &reading)
{
    reading.out_of_memory = true;
    xmlStopParser(reading.parser);
}

void start_held(ReplyReading &reading, const HeldNames &names)
{
    xmlSAX2StartElementNs(reading.parser, names.local_name, names.prefix, names.namespace_name, 0,
                          nullptr, 0, 0, nullptr);
}

void add_text(ReplyReading &reading, std::string_view text)
{
    while (!text.empty()) {
        const std::size_t part = std::min<std::size_t>(text.size(), INT_MAX);
        xmlSAX2Characters(reading.parser, reinterpret_cast<const xmlChar *>(text.data()),
                          static_cast<int>(part));
        text.remove_prefix(part);
    }
}

// Builds the entry held back, and its message as far as it has come, once something in the
// entry is to be built: the tree then holds what it would have held built from the start.
void build_held(ReplyReading &reading)
{
    if (!reading.entry_held) {
        return;
    }
    reading.entry_held = false;
    start_held(reading, reading.held_entry);
    reading.partial_entry = reading.parser->node;
    const HeldMessage message = reading.message_held;
    reading.message_held = HeldMessage::none;
    if (message == HeldMessage::none) {
        return;
    }
    start_held(reading, reading.held_message);
    if (message == HeldMessage::closed) {
        add_text(reading, reading.held_message_text);
        xmlSAX2EndElementNs(reading.parser, reading.held_message.local_name,
                            reading.held_message.prefix, reading.held_message.namespace_name);
        return;
    }
    OpenElement &open = reading.open_elements[1];
    open.build = Build::whole;
    add_text(reading, std::string_view(reading.gathered_text).substr(open.text_start));
}

HeldNames names_of(const xmlChar *local_name, const xmlChar *prefix, const xmlChar *namespace_name)
{
    return HeldNames{.local_name = local_name, .prefix = prefix, .namespace_name = namespace_name};
}

// An entry of the list: built whole, in part, or (once the rest of the list is unread) not at
// all. One with no attributes and no namespaces of its own is held back until something in it
// is built.
void start_entry(ReplyReading &reading, ReadName name, const HeldNames &names, bool bare,
                 const auto &build_element)
{
    const Build build = entry_build(reading, name);
    if (build == Build::whole) {
        build_element();
        return;
    }
    if (build == Build::skipped) {
        reading.unread_depth = 1;
        return;
    }
    reading.open_elements.push_back(OpenElement{.build = build});
    reading.arrival_below_entry = false;
    reading.partial_entry = nullptr;
    if (bare) {
        reading.entry_held = true;
        reading.held_entry = names;
        return;
    }
    build_element();
    reading.partial_entry = reading.parser->node;
}

// A child of an element open in the entry: built as its parent says, searched while the entry
// is, and otherwise passed over with everything in it. The first message of an entry held back,
// when it has no attributes and no namespaces of its own, is held too.
void start_child(ReplyReading &reading, ReadName name, const HeldNames &names, bool bare,
                 const auto &build_element)
{
    OpenElement child{.build = child_build(reading, reading.open_elements.back(), name)};
    child.gathering = note_child(reading, name, true);
    if (child.build == Build::skipped && !child.gathering && !searching(reading)) {
        reading.unread_depth = 1;
        return;
    }
    child.text_start = reading.gathered_text.size();
    const bool held = reading.entry_held && bare && child.gathering &&
                      reading.open_elements.size() == 1 && child.build == Build::whole;
    if (held) {
        child.build = Build::held;
        reading.message_held = HeldMessage::open;
        reading.held_message = names;
    }
    reading.open_elements.push_back(child);
    if (child.build != Build::skipped && !held) {
        build_held(reading);
        build_element();
    }
}

// A held message that has ended: built, with the entry, when it arrives; otherwise kept aside
// with its text, for the entry may yet be built.
void held_message_ended(ReplyReading &reading, const OpenElement &message)
{
    const std::string_view text =
        std::string_view(reading.gathered_text).substr(message.text_start);
    if (is_arrival_text(text)) {
        build_held(reading);
        xmlSAX2EndElementNs(reading.parser, reading.held_message.local_name,
                            reading.held_message.prefix, reading.held_message.namespace_name);
        return;
    }
    reading.held_message_text.assign(text);
    reading.message_held = HeldMessage::closed;
}

// An entry held back to its end, never built: examined from what its parse told.
void unbuilt_entry_ended(ReplyReading &reading, const OpenElement &entry)
{
    reading.entry_held = false;
    const bool has_message = entry.first_message != FirstMessage::none;
    const bool misdeclared = reading.message_held == HeldMessage::closed &&
                             is_misdeclared_arrival_text(reading.held_message_text);
    reading.message_held = HeldMessage::none;
    if (reading.out_of_memory || library_memory_failed()) {
        return;
    }
    try {
        examine_unbuilt_entry(reading, has_message, misdeclared, reading.arrival_below_entry);
    } catch (const std::bad_alloc &) {
        reading.out_of_memory = true;
    }
}

void start_element(void *context, const xmlChar *local_name, const xmlChar *prefix,
                   const xmlChar *namespace_name, int namespace_count, const xmlChar **namespaces,
                   int attribute_count, int defaulted_count, const xmlChar **attributes)
{
    const auto build_element = [&] {
        xmlSAX2StartElementNs(context, local_name, prefix, namespace_name, namespace_count,
                              namespaces, attribute_count, defaulted_count, attributes);
    };
    ReplyReading *reading = reading_of(context);
    if (reading == nullptr) {
        build_element();
        return;
    }
    try {
        const HeldNames names = names_of(local_name, prefix, namespace_name);
        const bool bare = namespace_count == 0 && attribute_count == 0;
        if (!reading->open_elements.empty()) {
            start_child(*reading, read_name_of(*reading, local_name, true), names, bare,
                        build_element);
        } else if (in_list(*reading)) {
            start_entry(*reading, read_name_of(*reading, local_name, true), names, bare,
                        build_element);
        } else {
            build_element();
        }
    } catch (const std::bad_alloc &) {
        stop_short_of_memory(*reading);
    }
}

// An element inside a part that is neither built nor searched is counted, and nothing more.
void element_started(void *context, const xmlChar *local_name, const xmlChar *prefix,
                     const xmlChar *namespace_name, int namespace_count, const xmlChar **namespaces,
                     int attribute_count, int defaulted_count, const xmlChar **attributes)
{
    ReplyReading *reading = reading_of(context);
    if (reading != nullptr && reading->unread_depth > 0) {
        ++reading->unread_depth;
        return;
    }
    start_element(context, local_name, prefix, namespace_name, namespace_count, namespaces,
                  attribute_count, defaulted_count, attributes);
}

// The reading takes an element complete only when memory has held out.
void complete(ReplyReading &reading, xmlNode *element)
{
    if (element == nullptr || reading.out_of_memory || library_memory_failed()) {
        return;
    }
    // No exception may cross the library's frames.
    try {
        element_complete(reading, element);
    } catch (const std::bad_alloc &) {
        reading.out_of_memory = true;
    }
}

void element_ended(void *context, const xmlChar *local_name, const xmlChar *prefix,
                   const xmlChar *namespace_name)
{
    auto *parser = static_cast<xmlParserCtxt *>(context);
    xmlNode *element = parser->node;
    ReplyReading *reading = reading_of(context);
    if (reading != nullptr && reading->unread_depth > 0) {
        --reading->unread_depth;
        return;
    }
    if (reading == nullptr || reading->open_elements.empty()) {
        xmlSAX2EndElementNs(context, local_name, prefix, namespace_name);
        if (reading != nullptr) {
            complete(*reading, element);
        }
        return;
    }
    // A held message ends while it is still the innermost element open.
    const OpenElement ended = reading->open_elements.back();
    try {
        const bool unbuilt =
            ended.build == Build::skipped || (ended.build == Build::entry && reading->entry_held);
        if (ended.build == Build::held) {
            held_message_ended(*reading, ended);
        } else if (!unbuilt) {
            xmlSAX2EndElementNs(context, local_name, prefix, namespace_name);
        }
    } catch (const std::bad_alloc &) {
        stop_short_of_memory(*reading);
        return;
    }
    reading->open_elements.pop_back();
    if (ended.gathering) {
        message_ended(*reading, ended);
    }
    if (!reading->open_elements.empty()) {
        return;
    }
    if (reading->entry_held) {
        unbuilt_entry_ended(*reading, ended);
    } else {
        complete(*reading, element);
    }
}

// Text, in a text node or a CDATA section: built where its element is built whole, gathered
// where its element's text is.
void take_text(void *context, const xmlChar *text, int length, bool cdata)
{
    const auto build_text = [&] {
        if (cdata) {
            xmlSAX2CDataBlock(context, text, length);
        } else {
            xmlSAX2Characters(context, text, length);
        }
    };
    ReplyReading *reading = reading_of(context);
    if (reading == nullptr) {
        build_text();
        return;
    }
    if (reading->unread_depth > 0) {
        return;
    }
    if (reading->open_elements.empty()) {
        if (!list_node_unbuilt(*reading, false)) {
            build_text();
        }
        return;
    }
    // What is held is built first, with the text gathered before this piece; a CDATA section
    // in a held message is built as it stands.
    const Build build = reading->open_elements.back().build;
    const bool built = build == Build::whole || (cdata && build == Build::held);
    if (built) {
        build_held(*reading);
    }
    if (reading->open_elements.back().gathering) {
        try {
            reading->gathered_text.append(reinterpret_cast<const char *>(text),
                                          static_cast<std::size_t>(length));
        } catch (const std::bad_alloc &) {
            stop_short_of_memory(*reading);
            return;
        }
    }
    if (built) {
        build_text();
    }
}

// True for an element whose content is built, or held to be built with it.
bool builds_content(Build build)
{
    return build == Build::whole || build == Build::held;
}

// True where text is neither built nor gathered: most of an indented reply's text, the blanks
// between elements, is told so at once.
bool text_passed_over(const ReplyReading *reading)
{
    if (reading == nullptr) {
        return false;
    }
    if (reading->unread_depth > 0) {
        return true;
    }
    if (reading->open_elements.empty()) {
        return false;
    }
    const OpenElement &open = reading->open_elements.back();
    return !open.gathering && !builds_content(open.build);
}

void characters_read(void *context, const xmlChar *text, int length)
{
    if (!text_passed_over(reading_of(context))) {
        take_text(context, text, length, false);
    }
}

void cdata_read(void *context, const xmlChar *text, int length)
{
    take_text(context, text, length, true);
}

void comment_read(void *context, const xmlChar *text)
{
    ReplyReading *reading = reading_of(context);
    if (reading != nullptr && reading->unread_depth > 0) {
        return;
    }
    if (reading != nullptr && reading->open_elements.empty() && list_node_unbuilt(*reading, true)) {
        return;
    }
    if (reading != nullptr && !reading->open_elements.empty()) {
        if (!builds_content(reading->open_elements.back().build)) {
            return;
        }
        build_held(*reading);
    }
    xmlSAX2Comment(context, text);
}

// A processing instruction or an entity reference inside a partly built entry: noted by its
// name, built wherever its parent is, and an entity's text gathered with its element's.
template <typename BuildNode>
void take_named_node(void *context, const xmlChar *name, bool entity, const BuildNode &build_node)
{
    ReplyReading *reading = reading_of(context);
    if (reading != nullptr && reading->unread_depth > 0) {
        return;
    }
    if (reading == nullptr || reading->open_elements.empty()) {
        build_node();
        return;
    }
    const bool built = reading->open_elements.back().build != Build::skipped;
    if (built) {
        build_held(*reading);
    }
    try {
        note_child(*reading, read_name_of(*reading, name, false), false);
        if (entity && reading->open_elements.back().gathering) {
            const xmlEntity *declared = xmlGetDocEntity(reading->parser->myDoc, name);
            const std::optional<std::string> text =
                declared != nullptr ? list_text(reading->parser->myDoc, declared->children)
                                    : std::nullopt;
            if (text) {
                reading->gathered_text += *text;
            }
        }
    } catch (const std::bad_alloc &) {
        stop_short_of_memory(*reading);
        return;
    }
    if (built) {
        build_node();
    }
}

void reference_read(void *context, const xmlChar *name)
{
    take_named_node(context, name, true, [&] { xmlSAX2Reference(context, name); });
}

void instruction_read(void *context, const xmlChar *target, const xmlChar *data)
{
    take_named_node(context, target, false,
                    [&] { xmlSAX2ProcessingInstruction(context, target, data); });
}

} // namespace

void attach_building(xmlParserCtxt *parser, ReplyReading &reading)
{
    parser->_private = &reading;
    reading.names_interned = parser->dict != nullptr;
    for (std::size_t index = 0; index < read_name_count; ++index) {
        reading.interned_names[index] =
            parser->dict != nullptr
                ? xmlDictLookup(parser->dict, reinterpret_cast<const xmlChar *>(read_names[index]),
                                -1)
                : nullptr;
        reading.names_interned = reading.names_interned && reading.interned_names[index] != nullptr;
    }
    xmlSAXHandler &handler = *parser->sax;
    // Blanks go where other text goes unless the parser is told to drop them.
    if (handler.ignorableWhitespace == handler.characters) {
        handler.ignorableWhitespace = characters_read;
    }
    handler.startElementNs = element_started;
    handler.endElementNs = element_ended;
    handler.characters = characters_read;
    handler.cdataBlock = cdata_read;
    handler.comment = comment_read;
    handler.reference = reference_read;
    handler.processingInstruction = instruction_read;
}
