// The reading of a reply over its whole tree, as the tools read it before they read replies as
// they stream: the reference that every streaming reading must agree with, value for value. The
// reference tools are the programs' own mains with this reading in place of theirs.
#include "reply.h"

#include <libxml/parser.h>

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

// The refusals that yield to SOAP encoding, then the arrivals read, then an arrival that the
// scan did not read.
Outcome outcome_of(const xmlDoc *document, const xmlNode *root, const xmlNode *first,
                   const Examined &examined, bool reported)
{
    if (examined.nested) {
        return Outcome::nested_values;
    }
    if (examined.misdeclared) {
        return Outcome::misdeclared_text;
    }
    if (reported) {
        return Outcome::reported;
    }
    if (examined.missed_inside || arrival_outside(document, root, first)) {
        return Outcome::missed_arrival;
    }
    return Outcome::no_train;
}

// The old walk over the list: every arriving mission, or the first with its station names.
Outcome scan(const xmlDoc *document, const xmlNode *root, Layout layout, Wanted wanted,
             Arrivals &arrivals)
{
    const bool stations = wanted == Wanted::first_arrival_with_stations;
    const xmlNode *container = list_container(root, layout == Layout::indented);
    if (container == nullptr) {
        return Outcome::no_list;
    }
    if (container_by_reference(container)) {
        return Outcome::encoded_values;
    }
    const xmlNode *first = next_level(container, layout == Layout::indented);
    Examined examined;
    bool reported = false;
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving) ||
            (arriving && stations && stations_encoded(document, mission))) {
            return Outcome::encoded_values;
        }
        examine(document, mission, arriving, stations, examined);
        if (arriving) {
            read_arrival(document, mission, stations ? StationNames::read : StationNames::not_read,
                         ValueItems::read, arrivals);
            reported = true;
            if (stations) {
                break;
            }
        }
    }
    return outcome_of(document, root, first, examined, reported);
}

ReplyFound find(const char *docname, Layout layout, Wanted wanted)
{
    const DocumentPtr document(xmlParseFile(docname), &xmlFreeDoc);
    if (library_memory_failed()) {
        return ReplyFound{.outcome = Outcome::out_of_memory};
    }
    if (!document) {
        return ReplyFound{.outcome = Outcome::not_parsed};
    }
    if (const std::optional<Outcome> refused = refused_root(document.get())) {
        return ReplyFound{.outcome = *refused};
    }
    const xmlNode *root = xmlDocGetRootElement(document.get());
    ReplyFound found;
    if (const xmlNode *fault = service_fault(root); fault != nullptr) {
        found.outcome = Outcome::fault;
        found.fault_text = service_fault_text(document.get(), fault);
        return found;
    }
    found.outcome = scan(document.get(), root, layout, wanted, found.arrivals);
    if (found.outcome != Outcome::reported) {
        found.arrivals = Arrivals{};
    }
    return found;
}

} // namespace

ReplyFound reference_read_reply(const char *docname, Layout layout, Wanted wanted)
{
    try {
        ReplyFound found = find(docname, layout, wanted);
        return library_memory_failed() ? ReplyFound{.outcome = Outcome::out_of_memory} : found;
    } catch (const std::bad_alloc &) {
        return ReplyFound{.outcome = Outcome::out_of_memory};
    }
}
