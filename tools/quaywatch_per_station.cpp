// quaywatch_per_station docname csvname: reports the first mission of a compact service reply
// whose train is at the platform, and appends it to a CSV file as one record.
#include "mission.h"

#include <cstdio>

namespace {

// A compact reply has no whitespace between elements, so each level's element is the first
// child node.
const xmlNode *first_child(const xmlNode *node)
{
    return node != nullptr ? node->children : nullptr;
}

} // namespace

void print_quaywatch(const xmlDoc *document, const xmlNode *root, const char *csvname)
{
    // The mission list sits four levels down; the names above it are never looked at.
    const xmlNode *container = first_child(first_child(first_child(root)));
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return;
    }
    for (const xmlNode *mission = first_child(container); mission != nullptr;
         mission = mission->next) {
        if (train_arrives(document, mission)) {
            print_station(document, mission, csvname);
            print_stationDates(document, mission, csvname);
            print_direction(document, mission, reinterpret_cast<const xmlChar *>("name"), csvname);
            print_direction(document, mission, reinterpret_cast<const xmlChar *>("sens"), csvname);
            return;
        }
    }
}

int main(int argc, char **argv)
{
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
    print_quaywatch(document.get(), root, argv[2]);
    return 1;
}
