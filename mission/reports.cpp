// The reports of a mission's fields: console lines, and the CSV fields of a record beside them.
#include "mission.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// One console line: the label, then the value; a value the element does not have is reported
// as an empty one.
void print_line(std::string &console, std::string_view label,
                const std::optional<std::string_view> &value)
{
    console += label;
    if (value) {
        console += *value;
    }
    console += '\n';
}

std::string_view field_name(const xmlChar *field)
{
    return reinterpret_cast<const char *>(field);
}

void print_direction_line(std::string &console, std::string_view field,
                          const std::optional<std::string_view> &value)
{
    console += "direction->";
    console += field;
    print_line(console, ": ", value);
}

bool needs_quotes(std::string_view value)
{
    return value.find_first_of(",\"\r\n") != std::string_view::npos;
}

// A value that would break the record's columns or lines goes in double quotes, its own
// double quotes doubled; every other value is written exactly as it stands.
void append_field(std::string &record, std::string_view separator,
                  const std::optional<std::string_view> &value)
{
    record += separator;
    if (!value) {
        return;
    }
    if (!needs_quotes(*value)) {
        record += *value;
        return;
    }
    record += '"';
    for (const char character : *value) {
        if (character == '"') {
            record += '"';
        }
        record += character;
    }
    record += '"';
}

bool is_direction_field(const xmlNode *node)
{
    return name_is(node, "name") || name_is(node, "sens");
}

const xmlNode *children_of(const xmlNode *node)
{
    return node != nullptr ? node->children : nullptr;
}

} // namespace

void write_reports(std::string_view console)
{
    while (!console.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, console.data(), console.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // A reader that went away (| head) has all it wanted.
            const int error = written < 0 ? errno : EIO;
            if (error != EPIPE) {
                write_diagnostic(std::string("write error: ") + std::strerror(error) + "\n");
            }
            return;
        }
        console.remove_prefix(static_cast<std::size_t>(written));
    }
}

void print_stationDates(const xmlDoc *document, const xmlNode *mission, ValueItems items,
                        std::string &console)
{
    for (const xmlNode *child = mission->children; child != nullptr; child = child->next) {
        if (!name_is(child, "stationsDates")) {
            continue;
        }
        for_each_value(document, child, items, [&](const std::optional<std::string_view> &date) {
            print_line(console, "stationsDates: ", date);
        });
    }
}

void print_direction(const xmlDoc *document, const xmlNode *mission, std::string &console)
{
    const xmlNode *direction = first_child_named(mission, "direction");
    for (const xmlNode *child = children_of(direction); child != nullptr; child = child->next) {
        if (!is_direction_field(child)) {
            continue;
        }
        std::string joined;
        print_direction_line(console, field_name(child->name),
                             read_element_text(document, child, joined));
    }
}

void print_station(const xmlDoc *document, const xmlNode *mission, std::string &console,
                   std::string &record)
{
    bool station_written = false;
    const xmlNode *stations = first_child_named(mission, "stations");
    for (const xmlNode *child = children_of(stations); child != nullptr; child = child->next) {
        if (!name_is(child, "name")) {
            continue;
        }
        for_each_value(document, child, ValueItems::read,
                       [&](const std::optional<std::string_view> &station_name) {
                           print_line(console, "station: ", station_name);
                           append_field(record, "\n,", station_name);
                           station_written = true;
                       });
    }
    // A record without station names still begins a line of its own, under an empty
    // station column, rather than running on from the previous record.
    if (!station_written) {
        record += "\n,";
    }
}

void print_stationDates(const xmlDoc *document, const xmlNode *mission, std::string &console,
                        std::string &record)
{
    for (const xmlNode *child = mission->children; child != nullptr; child = child->next) {
        if (!name_is(child, "stationsDates")) {
            continue;
        }
        for_each_value(document, child, ValueItems::read,
                       [&](const std::optional<std::string_view> &date) {
                           print_line(console, "stationsDates: ", date);
                           append_field(record, ",", date);
                       });
    }
}

void print_direction(const xmlDoc *document, const xmlNode *mission, const xmlChar *field,
                     std::string &console, std::string &record)
{
    const xmlNode *direction = first_child_named(mission, "direction");
    for (const xmlNode *child = children_of(direction); child != nullptr; child = child->next) {
        if (!name_is(child, reinterpret_cast<const char *>(field))) {
            continue;
        }
        std::string joined;
        const std::optional<std::string_view> value = read_element_text(document, child, joined);
        print_direction_line(console, field_name(field), value);
        append_field(record, ",", value);
    }
}
