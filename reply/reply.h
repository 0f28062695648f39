// Reading a reply of a board service: the intake of a document, the walk down a reply to its
// mission list, the entries of that list read as the parse goes, the service's fault, and the
// library's memory. What each entry says is read by the mission record functions.
#pragma once

#include "mission.h"

// What the reading of a reply came to; each program turns it into its exit status.
enum class Outcome {
    reported,            // arriving missions reported (and, per station, the record appended)
    no_train,            // a board with no train at the platform
    fault,               // the service answered with a fault
    no_list,             // the walk down found no mission list
    missed_arrival,      // nothing examined arrived, but a mission elsewhere in the reply does
    encoded_values,      // values in SOAP encoding, refused
    nested_values,       // values nested deeper than the items of a list, refused
    misdeclared_text,    // text that is not in the reply's declared encoding, refused
    refused_document,    // not parsed, no root element, or a root of another name
    out_of_memory,       // memory ran out once the document was read
    record_not_appended, // reported, but the record is not in the log
};

// The exit status of a reply tool: 0 for a reply refused as a whole, 1 once one was read.
int exit_status(Outcome outcome);

// Reads the reply at docname ("-" for standard input) with the library's file parse, its default
// options and its own tree builder, handing each entry of the mission list to the arrival test
// and the reports as soon as it is complete, and releasing it then. Without a csvname, as
// quaywatch does: an indented reply, every arriving mission on the console. With one, as
// quaywatch_per_station does: a compact reply, the first arriving mission on the console and as
// a record appended to csvname. Nothing is printed or appended before the whole document has
// parsed; every message is said on standard error.
Outcome read_reply(const char *docname, const char *csvname);
// The same reading of a reply held in memory, whose diagnostics name it reply_name.
Outcome read_reply_in_memory(std::string_view reply, const char *reply_name, const char *csvname);
// A reply in memory read for its SOAP fault alone, as an HTTP error may carry one: the fault is
// said and Outcome::fault given; anything else gives Outcome::refused_document, and nothing is
// said, the library's diagnostics included.
Outcome read_fault_in_memory(std::string_view reply, const char *reply_name);

// What every program does before anything else: a closed standard descriptor is opened on
// /dev/null, so that no file the run opens takes its place, SIGXFSZ is ignored, so that a write
// past the file-size limit fails and is said, and the library takes its memory from our
// allocator, which notes any allocation it could not make.
void prepare_process();
void watch_library_memory();
// The allocator a library is given, so that library_memory_failed() tells of its failures too.
void *watched_malloc(std::size_t size);
void *watched_realloc(void *block, std::size_t size);
void *watched_calloc(std::size_t count, std::size_t size);
char *watched_strdup(const char *text);
void release_watched(void *block);
// True once an allocation of the library has failed; require_library_memory throws
// std::bad_alloc then, so that the library's lack of memory ends a run as our own does.
bool library_memory_failed();
void require_library_memory();

// Runs a program's reports. Memory that runs out, in our code or in the library's, ends them
// with "out of memory" on standard error and false, so that the run never passes as a good one.
template <typename Reports> bool reports_completed(Reports &&reports)
{
    try {
        reports();
        require_library_memory();
        return true;
    } catch (const std::bad_alloc &) {
        write_diagnostic("out of memory\n");
        return false;
    }
}

// The intake of a single-mission document: parse the file whole (the library's default options,
// so "-" reads standard input and the library's own diagnostics come first), then check that the
// root element has the expected name. A parse that ran out of memory is refused like one that
// failed. A refused document is released and nothing is given back, once the program's own
// message has gone to standard error.
DocumentPtr intake_document(const char *docname, const char *root_name,
                            std::string_view parse_failure, std::string_view wrong_type);
// The check of a parsed document's root element that every intake makes; false, with the
// message said, when the document has none or one of another name.
bool root_accepted(const xmlDoc *document, const char *root_name, std::string_view wrong_type);

// The Fault element of a reply whose service reports a failure instead of a board: the first
// element of the root's first Body element, when it is named Fault; otherwise none.
const xmlNode *service_fault(const xmlNode *root);
// "service fault: " and the fault's own words on standard error.
void report_service_fault(const xmlDoc *document, const xmlNode *fault);

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

// The program name for a usage line: as invoked, or the fallback when there is none.
const char *program_name(int argc, char **argv, const char *fallback);
