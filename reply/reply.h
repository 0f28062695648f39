// Reading a reply of a board service: the walk down a reply to its mission list, the entries of
// that list read as the parse goes, the service's fault, and the library's memory. The reading
// prints nothing: it gives what it found, and the program says it. What each entry says is read
// by the mission record functions.
#pragma once

#include "mission.h"

// What the reading of a reply came to; each program says it, and turns it into its status.
enum class Outcome {
    reported,            // arriving missions read (and, per station, the record appended)
    no_train,            // a board with no train at the platform
    fault,               // the service answered with a fault
    not_a_fault,         // read for a fault alone, and there was none
    no_list,             // the walk down found no mission list
    missed_arrival,      // nothing examined arrived, but a mission elsewhere in the reply does
    encoded_values,      // values in SOAP encoding, refused
    nested_values,       // values nested deeper than the items of a list, refused
    misdeclared_text,    // text that is not in the reply's declared encoding, refused
    not_parsed,          // the document is missing, unreadable or not well-formed
    empty_document,      // the document has no root element
    wrong_type,          // the root element is not an Envelope
    out_of_memory,       // memory ran out, in our code or in the library's
    record_not_appended, // read, but the record is not in the log
};

// The layout of a reply: indented, each level opening with the whitespace before its first
// element, or compact, with no text between elements; or told by the reply itself, indented when
// the root's first child node is a text node of whitespace alone.
enum class Layout { indented, compact, of_the_reply };
// What a run wants of a reply's arriving missions: every one, with its dates and direction, as
// quaywatch reports them; or the first, with its station names too, as quaywatch_per_station
// reports it, examining nothing after it.
enum class Wanted { every_arrival, first_arrival_with_stations };
// Whether a reply is read as a board, or for a SOAP fault alone, as an HTTP error may carry one.
enum class Sought { board, fault };

// What the reading of a reply found: its outcome, the words of a service's fault, and the values
// of the arriving missions read (none unless the outcome is Outcome::reported).
struct ReplyFound {
    Outcome outcome = Outcome::not_parsed;
    std::string fault_text{};
    Arrivals arrivals{};
};

// Reads the reply at docname ("-" for standard input) with the library's file parse, its default
// options and its own tree builder, which builds of the mission list's entries only what is read,
// handing each entry to the arrival test as soon as it is complete, and releasing it then, so
// that a reply of any size is read in the memory of about one entry. The library's own
// diagnostics go where it writes them.
ReplyFound read_reply(const char *docname, Layout layout, Wanted wanted);

// The same reading, fed the bytes of a reply as they come in; its diagnostics name the reply
// reply_name. Nothing is read into the outcome until the stream is finished.
struct ReplyStream;
void end_reply_stream(ReplyStream *stream);
using ReplyStreamPtr = std::unique_ptr<ReplyStream, decltype(&end_reply_stream)>;
ReplyStreamPtr start_reply_stream(const char *reply_name, Layout layout, Wanted wanted,
                                  Sought sought);
void feed_reply_stream(ReplyStream &stream, std::string_view bytes);
ReplyFound finish_reply_stream(ReplyStream &stream);

// Watches the library's memory: it then takes its memory from our allocator, which notes any
// allocation it could not make.
void watch_library_memory();
// The allocator a library is given, so that library_memory_failed() tells of its failures too.
void *watched_malloc(std::size_t size);
void *watched_realloc(void *block, std::size_t size);
void *watched_calloc(std::size_t count, std::size_t size);
char *watched_strdup(const char *text);
void release_watched(void *block);
// True once an allocation of a watched library has failed.
bool library_memory_failed();

// The outcome of a parsed document's root element: none when it is an Envelope.
std::optional<Outcome> refused_root(const xmlDoc *document);

// The Fault element of a reply whose service reports a failure instead of a board: the first
// element of the root's first Body element, when it is named Fault; otherwise none.
const xmlNode *service_fault(const xmlNode *root);
// The fault's own words: its faultstring (SOAP 1.1) or the first Text of its Reason (SOAP 1.2),
// empty when it has none.
std::string service_fault_text(const xmlDoc *document, const xmlNode *fault);

// The node of the next level down a reply: in an indented reply every element that holds
// elements opens with the whitespace before its first child element, so each level's element is
// the second child node; in a compact one, the first.
const xmlNode *next_level(const xmlNode *node, bool indented);
// The node the descent reaches at level 3, in the tree built so far; null when there is none.
// Not settled while the walk stands on a SOAP Header that a Body still to come may take it past.
const xmlNode *descent_level_three(const xmlNode *root, bool indented, bool &settled);
// The container of the mission list, as the walk down finds it in the tree built so far; null
// when there is none. It is the node at level 3, or the element after it when that is the result
// of an RPC reply; or, when the node at level 3 is a mission itself (a bare reply, its response
// element holding the missions), the node at level 2. Not settled while the walk stands on a
// SOAP Header or an RPC result that a node still to come may yet take it past.
const xmlNode *mission_list_container(const xmlNode *root, bool indented, bool &settled);
// True when the node has a child named stationsMessages: a mission, not a container.
bool is_mission(const xmlNode *node);
// The node a reply's descent goes on from at level 1: when that node is a SOAP Header element
// with a Body element after it, the Body; otherwise the node itself.
const xmlNode *past_header(const xmlNode *level_one);
// True when an element of the document has its train at the platform and is neither one of the
// examined nodes (the first examined one and its later siblings; none when it is null) nor inside
// one of them.
bool arrival_outside(const xmlDoc *document, const xmlNode *root, const xmlNode *first_examined);
// True when an examined entry that is no mission itself (a wrapper, say) holds a mission, at any
// depth, whose train is at the platform: an arrival the scan does not read.
bool arrival_in_wrapper(const xmlDoc *document, const xmlNode *entry);
// The container of the mission list, given the node the descent reaches at level 3: a SOAP 1.2
// RPC reply names its result first, and the return value is the next element after it.
const xmlNode *past_rpc_result(const xmlNode *level_three);
// True when an examined entry, or an element of it that the arrival test reads (or, for an
// arriving mission, that the dates and direction reports read), carries a mark of SOAP encoding:
// a reference to a value written elsewhere, an array, or text in base64. Such values are not
// where and what the reports take them to be.
bool entry_encoded(const xmlDoc *document, const xmlNode *entry, bool arriving);
// The same for the elements that the station report reads.
bool stations_encoded(const xmlDoc *document, const xmlNode *mission);
// True when the list's container refers elsewhere for its entries (href, or SOAP 1.2 ref).
bool container_by_reference(const xmlNode *container);
