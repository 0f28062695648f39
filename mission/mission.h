// Reading one mission record of a parsed document: the arrival test and the reports of its
// fields, on the console alone or on the console and in a CSV file. Every program includes
// this header; the document intake that all of them share is declared here too.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

// A parsed document, released with the library's own function when its owner goes.
using DocumentPtr = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// True when the node's name is byte for byte the element name given.
bool name_is(const xmlNode *node, const char *element_name);

// The first child of the parent with that name, or none.
const xmlNode *first_child_named(const xmlNode *parent, const char *element_name);

// The text of an element: its text and CDATA children in document order, with entity
// references replaced by their replacement text; empty (no value at all) when the element
// has no such child.
std::optional<std::string> element_text(const xmlDoc *document, const xmlNode *element);

// The same text, read where it stands when the element holds it in one piece, so that the common
// value is never copied; text in several pieces is joined into `joined`, which the caller owns
// for as long as it reads the view.
std::optional<std::string_view> read_element_text(const xmlDoc *document, const xmlNode *element,
                                                  std::string &joined);

// The text of a list of nodes (an element's or an attribute's children), read as an element's.
std::optional<std::string> list_text(const xmlDoc *document, const xmlNode *list);

// True when the node's first stationsMessages child reads exactly "Train à quai".
bool train_arrives(const xmlDoc *document, const xmlNode *node);

// Console reports, one line per value, added to the console text of the run: a program writes
// it once its reading is done, so that a reply refused on the way prints nothing.
void print_stationDates(const xmlDoc *document, const xmlNode *mission, std::string &console);
void print_direction(const xmlDoc *document, const xmlNode *mission, std::string &console);
// The console text on standard output.
void write_reports(std::string_view console);

// Console and CSV reports: each value is added to the console text, then as a CSV field to the
// record, which is kept in memory until it is appended whole.
void print_station(const xmlDoc *document, const xmlNode *mission, std::string &console,
                   std::string &record);
void print_stationDates(const xmlDoc *document, const xmlNode *mission, std::string &console,
                        std::string &record);
void print_direction(const xmlDoc *document, const xmlNode *mission, const xmlChar *field,
                     std::string &console, std::string &record);

// Appends the record to the CSV file at csvname, creating it if need be: with one write under an
// exclusive flock of the file, once the path is known to still name the file that was locked,
// the termination signals held back from the lock until the file is closed, and a regular file
// cut back to its former size when any byte fails to reach it. Gives true, or says on standard
// error why the record is not in the file (or, where the cut failed too, that a part of it is)
// and gives false.
bool append_record(const char *csvname, std::string_view record);

// A fixed message on standard error, as raw bytes of its own length.
void write_diagnostic(std::string_view message);

// What every program does before anything else: a closed standard descriptor is opened on
// /dev/null, so that no file the run opens takes its place, and the library takes its memory
// from our allocator, which notes any allocation it could not make.
void prepare_process();
void watch_library_memory();
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

// The intake every program begins with: parse the file (the library's default options, so "-"
// reads standard input and the library's own diagnostics come first), then check that the root
// element has the expected name. A parse that ran out of memory is refused like one that failed.
// A refused document is released and nothing is given back, once the program's own message has
// gone to standard error.
DocumentPtr intake_document(const char *docname, const char *root_name,
                            std::string_view parse_failure, std::string_view wrong_type);

// The Fault element of a reply whose service reports a failure instead of a board: the first
// element of the root's first Body element, when it is named Fault; otherwise none.
const xmlNode *service_fault(const xmlNode *root);
// "service fault: " and the fault's own words on standard error.
void report_service_fault(const xmlDoc *document, const xmlNode *fault);

// The node a reply's descent goes on from at level 1: when that node is a SOAP Header element
// with a Body element after it, the Body; otherwise the node itself.
const xmlNode *past_header(const xmlNode *level_one);
// True when an element of the document has its train at the platform and is neither one of the
// examined nodes (the first examined one and its later siblings) nor inside one of them.
bool arrival_outside(const xmlDoc *document, const xmlNode *root, const xmlNode *first_examined);
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
// After a scan that reported nothing, having examined nodes from first_examined on or none at
// all: says so on standard error when the reply holds an arriving mission elsewhere, so that a
// missed train never reads as a quiet board.
void report_arrival_outside(const xmlDoc *document, const xmlNode *root,
                            const xmlNode *first_examined);

// Once a program's reports are done: standard output is flushed, and reports that did not reach
// it are said ("write error: REASON"), once, unless their reader went away, as that of `| head`
// does.
void flush_reports();

// The program name for a usage line: as invoked, or the fallback when there is none.
const char *program_name(int argc, char **argv, const char *fallback);
