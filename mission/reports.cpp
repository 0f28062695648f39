// The reports of a mission's fields: console lines, and the CSV fields appended beside them.
#include "mission.h"

#include <cstdio>
#include <fstream>

namespace {

// A value the element does not have is reported as an empty one.
const char *printable(const std::optional<std::string> &value)
{
    return value ? value->c_str() : "";
}

bool needs_quotes(std::string_view value)
{
    return value.find_first_of(",\"\r\n") != std::string_view::npos;
}

// A value that would break the record's columns or lines goes in double quotes, its own
// double quotes doubled; every other value is written exactly as it stands.
void append_field(std::ofstream &csv, std::string_view separator,
                  const std::optional<std::string> &value)
{
    csv << separator;
    if (!value) {
        return;
    }
    if (!needs_quotes(*value)) {
        csv << *value;
        return;
    }
    csv << '"';
    for (const char character : *value) {
        if (character == '"') {
            csv << '"';
        }
        csv << character;
    }
    csv << '"';
}

std::ofstream open_csv(const char *csvname)
{
    return std::ofstream(csvname, std::ios::out | std::ios::app);
}

bool is_direction_field(const xmlNode *node)
{
    return name_is(node, "name") || name_is(node, "sens");
}

} // namespace

void print_stationDates(const xmlDoc *document, const xmlNode *mission)
{
    for (const xmlNode *child = mission->children; child != nullptr; child = child->next) {
        if (!name_is(child, "stationsDates")) {
            continue;
        }
        const std::optional<std::string> date = element_text(document, child);
        std::printf("stationsDates: %s\n", printable(date));
    }
}

void print_direction(const xmlDoc *document, const xmlNode *mission)
{
    const xmlNode *direction = first_child_named(mission, "direction");
    if (direction == nullptr) {
        return;
    }
    for (const xmlNode *child = direction->children; child != nullptr; child = child->next) {
        if (!is_direction_field(child)) {
            continue;
        }
        const std::optional<std::string> value = element_text(document, child);
        std::printf("direction->%s: %s\n", reinterpret_cast<const char *>(child->name),
                    printable(value));
    }
}

void print_station(const xmlDoc *document, const xmlNode *mission, const char *csvname)
{
    std::ofstream csv = open_csv(csvname);
    bool station_written = false;
    const xmlNode *stations = first_child_named(mission, "stations");
    for (const xmlNode *child = stations != nullptr ? stations->children : nullptr;
         child != nullptr; child = child->next) {
        if (!name_is(child, "name")) {
            continue;
        }
        const std::optional<std::string> station_name = element_text(document, child);
        std::printf("station: %s\n", printable(station_name));
        append_field(csv, "\n,", station_name);
        station_written = true;
    }
    // A record without station names still begins a line of its own, under an empty
    // station column, rather than running on from the previous record.
    if (!station_written) {
        csv << "\n,";
    }
    csv.close();
}

void print_stationDates(const xmlDoc *document, const xmlNode *mission, const char *csvname)
{
    std::ofstream csv = open_csv(csvname);
    for (const xmlNode *child = mission->children; child != nullptr; child = child->next) {
        if (!name_is(child, "stationsDates")) {
            continue;
        }
        const std::optional<std::string> date = element_text(document, child);
        std::printf("stationsDates: %s\n", printable(date));
        append_field(csv, ",", date);
    }
    csv.close();
}

void print_direction(const xmlDoc *document, const xmlNode *mission, const xmlChar *field,
                     const char *csvname)
{
    std::ofstream csv = open_csv(csvname);
    const xmlNode *direction = first_child_named(mission, "direction");
    for (const xmlNode *child = direction != nullptr ? direction->children : nullptr;
         child != nullptr; child = child->next) {
        if (xmlStrcmp(child->name, field) != 0) {
            continue;
        }
        const std::optional<std::string> value = element_text(document, child);
        std::printf("direction->%s: %s\n", reinterpret_cast<const char *>(field), printable(value));
        append_field(csv, ",", value);
    }
    csv.close();
}
