// quaywatch docname: reports every mission of an indented service reply whose train is at the
// platform.
#include "mission.h"

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

} // namespace

void print_quaywatch(const xmlDoc *document, const xmlNode *root)
{
    // The mission list sits four levels down; the names above it are never looked at.
    const xmlNode *container = second_child(second_child(second_child(root)));
    if (container == nullptr) {
        write_diagnostic("no mission list in document\n");
        return;
    }
    for (const xmlNode *mission = second_child(container); mission != nullptr;
         mission = mission->next) {
        if (train_arrives(document, mission)) {
            print_stationDates(document, mission);
            print_direction(document, mission);
        }
    }
}

int main(int argc, char **argv)
{
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
    print_quaywatch(document.get(), root);
    return 1;
}
