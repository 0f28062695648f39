// The values that the reports take of an arriving mission, read out of its record.
#include "mission.h"

namespace {

void add_value(Arrivals &arrivals, Field field, const std::optional<std::string_view> &value)
{
    if (value) {
        arrivals.text += *value;
    }
    arrivals.values.push_back({arrivals.text.size(), field});
}

void read_station_names(const xmlDoc *document, const xmlNode *mission, Arrivals &arrivals)
{
    const xmlNode *stations = first_child_named(mission, "stations");
    for (const xmlNode *child = stations != nullptr ? stations->children : nullptr;
         child != nullptr; child = child->next) {
        if (name_is(child, "name")) {
            for_each_value(document, child, ValueItems::read,
                           [&](const std::optional<std::string_view> &station_name) {
                               add_value(arrivals, Field::station, station_name);
                           });
        }
    }
}

void read_dates(const xmlDoc *document, const xmlNode *mission, ValueItems items,
                Arrivals &arrivals)
{
    for (const xmlNode *child = mission->children; child != nullptr; child = child->next) {
        if (name_is(child, "stationsDates")) {
            for_each_value(document, child, items,
                           [&](const std::optional<std::string_view> &date) {
                               add_value(arrivals, Field::date, date);
                           });
        }
    }
}

// A direction's name and sens in document order: a sens written before the name comes first.
void read_direction(const xmlDoc *document, const xmlNode *mission, Arrivals &arrivals)
{
    const xmlNode *direction = first_child_named(mission, "direction");
    for (const xmlNode *child = direction != nullptr ? direction->children : nullptr;
         child != nullptr; child = child->next) {
        const bool is_name = name_is(child, "name");
        if (is_name || name_is(child, "sens")) {
            std::string joined;
            add_value(arrivals, is_name ? Field::direction_name : Field::direction_sens,
                      read_element_text(document, child, joined));
        }
    }
}

} // namespace

void read_arrival(const xmlDoc *document, const xmlNode *mission, StationNames stations,
                  ValueItems items, Arrivals &arrivals)
{
    arrivals.missions.push_back(arrivals.values.size());
    if (stations == StationNames::read) {
        read_station_names(document, mission, arrivals);
    }
    read_dates(document, mission, items, arrivals);
    read_direction(document, mission, arrivals);
}

std::string_view value_text(const Arrivals &arrivals, std::size_t index)
{
    const std::size_t begin = index == 0 ? 0 : arrivals.values[index - 1].end;
    return std::string_view(arrivals.text).substr(begin, arrivals.values[index].end - begin);
}

std::size_t mission_end(const Arrivals &arrivals, std::size_t mission)
{
    return mission + 1 < arrivals.missions.size() ? arrivals.missions[mission + 1]
                                                  : arrivals.values.size();
}
