// quaywatch docname: reports every mission of an indented service reply whose train is at the
// platform.
#include "mission.h"

#include <cstddef>
#include <cstdio>

namespace {

// In an indented reply every element that holds elements opens with the whitespace before its
// first child element, so each level's element is the second child node.
const xmlNode *second_child(const xmlNode *node)
{
    if (node == nullptr || node->children == nullptr) {
        return nullptr;
    }
    return node->children->next;
}

// By the time the parse ends the tree is far larger than the cache, and each mission's first
// nodes lie together just after it in memory: touching the missions a little ahead of the scan
// overlaps their cache misses with the work on the current one.
const xmlNode *prefetch_next(const xmlNode *ahead)
{
    if (ahead == nullptr) {
        return nullptr;
    }
    constexpr std::ptrdiff_t cache_line = 64;
    const char *region = reinterpret_cast<const char *>(ahead);
    for (std::ptrdiff_t line = 0; line < 8; ++line) {
        __builtin_prefetch(region + cache_line * line);
    }
    return ahead->next;
}

} // namespace

void print_quaywatch(const xmlDoc *document, const xmlNode *root)
{
    // The mission list sits four levels down; the names above it are never looked at, but for
    // a SOAP Header, which the descent passes over to the Body, and an RPC result name.
    const xmlNode *container =
        past_rpc_result(second_child(second_child(past_header(second_child(root)))));
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return;
    }
    const xmlNode *first = second_child(container);
    const xmlNode *ahead = first;
    for (int step = 0; step < 16 && ahead != nullptr; ++step) {
        ahead = ahead->next;
    }
    std::string console;
    for (const xmlNode *mission = first; mission != nullptr; mission = mission->next) {
        ahead = prefetch_next(ahead);
        const bool arriving = train_arrives(document, mission);
        if (entry_encoded(document, mission, arriving)) {
            write_diagnostic("mission values in SOAP encoding not read\n");
            return;
        }
        if (arriving) {
            print_stationDates(document, mission, console);
            print_direction(document, mission, console);
        }
    }
    write_reports(console);
    if (console.empty()) {
        report_arrival_outside(document, root, first);
    }
}

int main(int argc, char **argv)
{
    prepare_process();
    if (argc < 2) {
        std::printf("Usage: %s docname\n", program_name(argc, argv, "quaywatch"));
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
    const bool completed = reports_completed([&] { print_quaywatch(document.get(), root); });
    flush_reports();
    return completed ? 1 : 0;
}
