// The reading of a reply over its whole tree, as the tools read it before they read replies as
// they stream: the reference that every streaming reading must agree with, byte for byte. The
// reference tools are the programs' own mains with this reading in place of theirs.
#include "reply.h"

namespace {

Outcome missed_arrival(const xmlDoc *document, const xmlNode *root, const xmlNode *first)
{
    if (arrival_outside(document, root, first)) {
        write_diagnostic("arriving mission outside the mission list\n");
        return Outcome::missed_arrival;
    }
    return Outcome::no_train;
}

// The old walk of quaywatch: every arriving mission of an indented reply.
Outcome print_quaywatch(const xmlDoc *document, const xmlNode *root)
{
    const xmlNode *container =
        past_rpc_result(next_level(next_level(past_header(next_level(root, true)), true), true));
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return Outcome::no_list;
    }
    const xmlNode *first = next_level(container, true);
    std::string console;
    bool reported = false;
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving)) {
            write_diagnostic("mission values in SOAP encoding not read\n");
            return Outcome::encoded_values;
        }
        if (arriving) {
            print_stationDates(document, mission, console);
            print_direction(document, mission, console);
            reported = true;
        }
    }
    write_reports(console);
    if (reported) {
        return Outcome::reported;
    }
    return missed_arrival(document, root, first);
}

// The old walk of quaywatch_per_station: the first arriving mission of a compact reply.
Outcome print_quaywatch(const xmlDoc *document, const xmlNode *root, const char *csvname)
{
    const xmlNode *container =
        past_rpc_result(next_level(next_level(past_header(next_level(root, false)), false), false));
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return Outcome::no_list;
    }
    const xmlNode *first = next_level(container, false);
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving) ||
            (arriving && stations_encoded(document, mission))) {
            write_diagnostic("mission values in SOAP encoding not read\n");
            return Outcome::encoded_values;
        }
        if (arriving) {
            std::string console;
            std::string record;
            print_station(document, mission, console, record);
            print_stationDates(document, mission, console, record);
            print_direction(document, mission, reinterpret_cast<const xmlChar *>("name"), console,
                            record);
            print_direction(document, mission, reinterpret_cast<const xmlChar *>("sens"), console,
                            record);
            require_library_memory();
            write_reports(console);
            return append_record(csvname, record) ? Outcome::reported
                                                  : Outcome::record_not_appended;
        }
    }
    return missed_arrival(document, root, first);
}

} // namespace

Outcome reference_read_reply(const char *docname, const char *csvname)
{
    const DocumentPtr document = intake_document(
        docname, "Envelope", "document not parsed successfully\n", "document of the wrong type\n");
    if (!document) {
        return Outcome::refused_document;
    }
    const xmlNode *root = xmlDocGetRootElement(document.get());
    if (const xmlNode *fault = service_fault(root); fault != nullptr) {
        reports_completed([&] { report_service_fault(document.get(), fault); });
        return Outcome::fault;
    }
    Outcome outcome = Outcome::out_of_memory;
    const bool completed = reports_completed([&] {
        outcome = csvname == nullptr ? print_quaywatch(document.get(), root)
                                     : print_quaywatch(document.get(), root, csvname);
    });
    return completed ? outcome : Outcome::out_of_memory;
}
