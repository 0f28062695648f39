// The reading of a reply over its whole tree, as the tools read it before they read replies as
// they stream: the reference that every streaming reading must agree with, byte for byte. The
// reference tools are the programs' own mains with this reading in place of theirs.
#include "reply.h"

namespace {

// The list's container over the whole tree: the node at level 3, past an RPC result; or the node
// at level 2 when the node at level 3 is a mission (a bare list).
const xmlNode *list_container(const xmlNode *root, bool indented)
{
    const xmlNode *level_two = next_level(past_header(next_level(root, indented)), indented);
    const xmlNode *level_three = next_level(level_two, indented);
    if (level_three != nullptr && first_child_named(level_three, "stationsMessages") != nullptr) {
        return level_two;
    }
    return past_rpc_result(level_three);
}

// What the examined entries gave, where no report settles the reply.
struct Examined {
    bool nested = false;
    bool misdeclared = false;
    bool missed_inside = false;
};

// The refusals that yield to SOAP encoding, and then an arrival that the scan did not read.
std::optional<Outcome> refused(const Examined &examined)
{
    if (examined.nested) {
        write_diagnostic("mission values in nested elements not read\n");
        return Outcome::nested_values;
    }
    if (examined.misdeclared) {
        write_diagnostic("reply text not in its declared encoding\n");
        return Outcome::misdeclared_text;
    }
    return std::nullopt;
}

void examine(const xmlDoc *document, const xmlNode *mission, bool arriving, bool stations,
             Examined &examined)
{
    examined.nested = examined.nested || entry_values_nested(document, mission, arriving) ||
                      (arriving && stations && stations_values_nested(document, mission));
    examined.misdeclared = examined.misdeclared || message_misdeclared(document, mission);
    if (!arriving) {
        examined.missed_inside = examined.missed_inside || arrival_in_wrapper(document, mission);
    }
}

Outcome missed_arrival(const xmlDoc *document, const xmlNode *root, const xmlNode *first,
                       const Examined &examined)
{
    if (examined.missed_inside || arrival_outside(document, root, first)) {
        write_diagnostic("arriving mission outside the mission list\n");
        return Outcome::missed_arrival;
    }
    return Outcome::no_train;
}

Outcome encoded_values()
{
    write_diagnostic("mission values in SOAP encoding not read\n");
    return Outcome::encoded_values;
}

// The old walk of quaywatch: every arriving mission of an indented reply.
Outcome print_quaywatch(const xmlDoc *document, const xmlNode *root)
{
    const xmlNode *container = list_container(root, true);
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return Outcome::no_list;
    }
    if (container_by_reference(container)) {
        return encoded_values();
    }
    const xmlNode *first = next_level(container, true);
    std::string console;
    bool reported = false;
    Examined examined;
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving)) {
            return encoded_values();
        }
        examine(document, mission, arriving, false, examined);
        if (arriving) {
            print_stationDates(document, mission, ValueItems::read, console);
            print_direction(document, mission, console);
            reported = true;
        }
    }
    if (const std::optional<Outcome> refusal = refused(examined)) {
        return *refusal;
    }
    write_reports(console);
    if (reported) {
        return Outcome::reported;
    }
    return missed_arrival(document, root, first, examined);
}

// The old walk of quaywatch_per_station: the first arriving mission of a compact reply.
Outcome print_quaywatch(const xmlDoc *document, const xmlNode *root, const char *csvname)
{
    const xmlNode *container = list_container(root, false);
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return Outcome::no_list;
    }
    if (container_by_reference(container)) {
        return encoded_values();
    }
    const xmlNode *first = next_level(container, false);
    Examined examined;
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving) ||
            (arriving && stations_encoded(document, mission))) {
            return encoded_values();
        }
        examine(document, mission, arriving, true, examined);
        if (!arriving) {
            continue;
        }
        if (const std::optional<Outcome> refusal = refused(examined)) {
            return *refusal;
        }
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
        return append_record(csvname, record) ? Outcome::reported : Outcome::record_not_appended;
    }
    if (const std::optional<Outcome> refusal = refused(examined)) {
        return *refusal;
    }
    return missed_arrival(document, root, first, examined);
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
