// The reports of the arriving missions read: console lines and a CSV record, formatted from
// their values, and the messages of what a reading came to.
#include "tool.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

void add_line(std::string &console, std::string_view label, std::string_view value)
{
    console += label;
    console += value;
    console += '\n';
}

std::string_view label_of(Field field)
{
    switch (field) {
    case Field::station:
        return "station: ";
    case Field::date:
        return "stationsDates: ";
    case Field::direction_name:
        return "direction->name: ";
    case Field::direction_sens:
        break;
    }
    return "direction->sens: ";
}

// Calls `take` with each value of the first arriving mission whose field is `field`.
template <typename Take> void for_each_first(const Arrivals &arrivals, Field field, Take &&take)
{
    if (arrivals.missions.empty()) {
        return;
    }
    for (std::size_t index = arrivals.missions[0]; index < mission_end(arrivals, 0); ++index) {
        if (arrivals.values[index].field == field) {
            take(value_text(arrivals, index));
        }
    }
}

bool needs_quotes(std::string_view value)
{
    return value.find_first_of(",\"\r\n") != std::string_view::npos;
}

void add_field(std::string &record, std::string_view separator, std::string_view value)
{
    record += separator;
    if (!needs_quotes(value)) {
        record += value;
        return;
    }
    record += '"';
    for (const char character : value) {
        if (character == '"') {
            record += '"';
        }
        record += character;
    }
    record += '"';
}

constexpr Field first_arrival_order[] = {Field::station, Field::date, Field::direction_name,
                                         Field::direction_sens};

} // namespace

std::string every_arrival_lines(const Arrivals &arrivals)
{
    return every_arrival_lines(arrivals, 0, arrivals.missions.size());
}

std::string every_arrival_lines(const Arrivals &arrivals, std::size_t first, std::size_t end)
{
    std::string console;
    const std::size_t first_value = first < end ? arrivals.missions[first] : 0;
    const std::size_t end_value = first < end ? mission_end(arrivals, end - 1) : 0;
    for (std::size_t index = first_value; index < end_value; ++index) {
        add_line(console, label_of(arrivals.values[index].field), value_text(arrivals, index));
    }
    return console;
}

void print_every_arrival(const Arrivals &arrivals)
{
    // Written a few hundred missions at a time, so that the lines of a large board are never all
    // in memory beside its values.
    constexpr std::size_t missions_at_a_time = 512;
    const std::size_t count = arrivals.missions.size();
    for (std::size_t first = 0; first < count; first += missions_at_a_time) {
        if (!print_reports(every_arrival_lines(arrivals, first,
                                               std::min(count, first + missions_at_a_time)))) {
            return;
        }
    }
}

std::string first_arrival_lines(const Arrivals &arrivals)
{
    std::string console;
    for (const Field field : first_arrival_order) {
        for_each_first(arrivals, field,
                       [&](std::string_view value) { add_line(console, label_of(field), value); });
    }
    return console;
}

std::string first_arrival_record(const Arrivals &arrivals)
{
    std::string record;
    for (const Field field : first_arrival_order) {
        for_each_first(arrivals, field, [&](std::string_view value) {
            add_field(record, field == Field::station ? "\n," : ",", value);
        });
        // A record without station names still begins a line of its own, under an empty
        // station column, rather than running on from the previous record.
        if (field == Field::station && record.empty()) {
            record += "\n,";
        }
    }
    return record;
}

bool print_reports(std::string_view console)
{
    const int error = write_whole(STDOUT_FILENO, console);
    // A reader that went away (| head) has all it wanted.
    if (error != 0 && error != EPIPE) {
        write_diagnostic(std::string("write error: ") + std::strerror(error) + "\n");
    }
    return error == 0;
}

void say_outcome(const ReplyFound &found)
{
    switch (found.outcome) {
    case Outcome::fault:
        write_diagnostic("service fault: " + found.fault_text + "\n");
        return;
    case Outcome::no_list:
        write_diagnostic("no mission list in document\n");
        return;
    case Outcome::missed_arrival:
        write_diagnostic("arriving mission outside the mission list\n");
        return;
    case Outcome::encoded_values:
        write_diagnostic("mission values in SOAP encoding not read\n");
        return;
    case Outcome::nested_values:
        write_diagnostic("mission values in nested elements not read\n");
        return;
    case Outcome::misdeclared_text:
        write_diagnostic("reply text not in its declared encoding\n");
        return;
    case Outcome::not_parsed:
        write_diagnostic("document not parsed successfully\n");
        return;
    case Outcome::empty_document:
        write_diagnostic("empty document\n");
        return;
    case Outcome::wrong_type:
        write_diagnostic("document of the wrong type\n");
        return;
    case Outcome::out_of_memory:
        write_diagnostic("out of memory\n");
        return;
    case Outcome::reported:
    case Outcome::no_train:
    case Outcome::not_a_fault:
    case Outcome::record_not_appended:
        return;
    }
}

int exit_status(Outcome outcome)
{
    switch (outcome) {
    case Outcome::fault:
    case Outcome::not_parsed:
    case Outcome::empty_document:
    case Outcome::wrong_type:
    case Outcome::out_of_memory:
        return 0;
    default:
        return 1;
    }
}

// The console has its lines first, so that a signal held back while the record goes in, and
// ending the run after it, does not cost it them.
Outcome log_first_arrival(const ReplyFound &found, const char *csvname)
{
    const std::string record = first_arrival_record(found.arrivals);
    print_reports(first_arrival_lines(found.arrivals));
    return append_record(csvname, record) ? Outcome::reported : Outcome::record_not_appended;
}
