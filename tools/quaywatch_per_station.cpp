// quaywatch_per_station docname csvname: reports the first mission of a compact service reply
// whose train is at the platform, and appends it to a CSV file as one record.
#include "mission.h"

#include <csignal>
#include <cstdio>

namespace {

// A compact reply has no whitespace between elements, so each level's element is the first
// child node.
const xmlNode *first_child(const xmlNode *node)
{
    return node != nullptr ? node->children : nullptr;
}

// The record is appended only when every value of it was read: a lack of memory anywhere
// before this point leaves the log as it was. The console has its lines first, so that a signal
// held back while the record goes in, and ending the run after it, does not cost it them.
void log_record(const char *csvname, std::string_view console, std::string_view record)
{
    require_library_memory();
    write_reports(console);
    flush_reports();
    append_record(csvname, record);
}

} // namespace

void print_quaywatch(const xmlDoc *document, const xmlNode *root, const char *csvname)
{
    // The mission list sits four levels down; the names above it are never looked at, but for
    // a SOAP Header, which the descent passes over to the Body, and an RPC result name.
    const xmlNode *container =
        past_rpc_result(first_child(first_child(past_header(first_child(root)))));
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return;
    }
    const xmlNode *first = first_child(container);
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving) ||
            (arriving && stations_encoded(document, mission))) {
            write_diagnostic("mission values in SOAP encoding not read\n");
            return;
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
            log_record(csvname, console, record);
            return;
        }
    }
    report_arrival_outside(document, root, first);
}

int main(int argc, char **argv)
{
    prepare_process();
    // A console reader that goes away early must not cost the log its record.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 3) {
        std::printf("Usage: %s docname csvname\n",
                    program_name(argc, argv, "quaywatch_per_station"));
        return 0;
    }
    const DocumentPtr document = intake_document(
        argv[1], "Envelope", "document not parsed successfully\n", "document of the wrong type\n");
    if (!document) {
        return 0;
    }
    const xmlNode *root = xmlDocGetRootElement(document.get());
    if (const xmlNode *fault = service_fault(root); fault != nullptr) {
        reports_completed([&] { report_service_fault(document.get(), fault); });
        return 0;
    }
    const bool completed =
        reports_completed([&] { print_quaywatch(document.get(), root, argv[2]); });
    flush_reports();
    return completed ? 1 : 0;
}
