// Reading one mission record of a parsed document: the arrival test, the values that a report
// takes of an arriving mission, and the CSV log that a record of them goes to.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A parsed document, released with the library's own function when its owner goes.
using DocumentPtr = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// True when the node's name is byte for byte the element name given.
bool name_is(const xmlNode *node, const char *element_name);
// The same for a name as the parse gives it.
bool is_element_name(const xmlChar *name, const char *element_name);

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
// True when the text is exactly "Train à quai".
bool is_arrival_text(const std::optional<std::string_view> &text);

// Whether a report reads the items of a value list (quaywatch2 reads every value as written).
enum class ValueItems { read, not_read };
// True for no text at all, or text of whitespace alone.
bool is_blank(const std::optional<std::string_view> &text);
// True when the element is a list of items: its own text is blank and it holds elements.
bool holds_items(const xmlDoc *document, const xmlNode *element);
// Calls `take` with each value that a value element gives: its own text; or, when it holds
// items, each item's text in order, each valid for the call alone.
template <typename Take>
void for_each_value(const xmlDoc *document, const xmlNode *element, ValueItems items, Take &&take)
{
    if (items == ValueItems::read && holds_items(document, element)) {
        for (const xmlNode *item = element->children; item != nullptr; item = item->next) {
            if (item->type == XML_ELEMENT_NODE) {
                std::string joined;
                take(read_element_text(document, item, joined));
            }
        }
        return;
    }
    std::string joined;
    take(read_element_text(document, element, joined));
}
// True when a value that the reports would read of an examined entry lies deeper than its items:
// an item of a date list that holds items itself, or (on an arriving mission) a direction name
// or sens that holds items; or when the entry's message holds items and one of them, at any
// depth, reads as the arrival text, which may be a train at the platform.
bool entry_values_nested(const xmlDoc *document, const xmlNode *entry, bool arriving);
// The same for the station names of an arriving mission.
bool stations_values_nested(const xmlDoc *document, const xmlNode *mission);
// True when the entry's message reads as the arrival text's UTF-8 bytes taken for ISO-8859-1 or
// windows-1252: a reply whose declared encoding is not that of its text.
bool message_misdeclared(const xmlDoc *document, const xmlNode *entry);
// True when the text is the arrival text's UTF-8 bytes so misread.
bool is_misdeclared_arrival_text(std::string_view text);

// A field of an arriving mission that a report takes.
enum class Field : std::uint8_t { station, date, direction_name, direction_sens };
// Whether the station names of an arriving mission are read (quaywatch_per_station's report
// has them; quaywatch's has not).
enum class StationNames { read, not_read };
// One value read: its field, and where its text ends in the text of all the values.
struct Value {
    std::size_t end;
    Field field;
};
// The values of the arriving missions read, in the order read: their text one value after the
// other, and, for each arriving mission, where its values begin. An element without text gives an
// empty value.
struct Arrivals {
    std::string text;
    std::vector<Value> values;
    std::vector<std::size_t> missions;
};
// Adds an arriving mission's values, as the reports take them: the name children of its first
// stations (when asked), every stationsDates, and the name and sens children of its first
// direction, in document order.
void read_arrival(const xmlDoc *document, const xmlNode *mission, StationNames stations,
                  ValueItems items, Arrivals &arrivals);
// The text of a value read.
std::string_view value_text(const Arrivals &arrivals, std::size_t index);
// Where the values of the arriving mission numbered `mission` end.
std::size_t mission_end(const Arrivals &arrivals, std::size_t mission);

// Appends the record to the CSV file at csvname, creating it if need be: with one write under an
// exclusive flock of the file, once the path is known to still name the file that was locked,
// the termination signals held back from the lock until the file is closed, and a regular file
// cut back to its former size when any byte fails to reach it. Gives true, or says on standard
// error why the record is not in the file (or, where the cut failed too, that a part of it is)
// and gives false.
bool append_record(const char *csvname, std::string_view record);

// Text that a service or a caller controls, escaped for a terminal or a journal: every C0
// control (tab, CR and LF among them), DEL, every C1 control and every byte that is not part of
// valid UTF-8 becomes \xNN, and so does a backslash before an x, so that the text can always be
// read back from its escapes.
std::string escaped_text(std::string_view text);
// A message escaped whole but for the line feed that ends it, if it has one.
std::string escaped_message(std::string_view message);
// A message on standard error, escaped, in one piece: always a line of its own.
void write_diagnostic(std::string_view message);
// A line already escaped, on standard error as it stands.
void write_escaped_line(std::string_view escaped_line);
// Writes every byte to the descriptor, whatever the signals that come in between; gives 0, or
// the errno of the write that failed.
int write_whole(int descriptor, std::string_view bytes);
