// quaywatch2 docname: reports the mission of a single-mission document when its train is at
// the platform.
#include "tool.h"

#include <libxml/parser.h>

#include <cstdio>

namespace {

// The whole document as a tree, its root a mission; none, once the message has been said, when
// it does not parse (memory that ran short while it did included) or its root is another.
DocumentPtr intake_document(const char *docname)
{
    DocumentPtr document(xmlParseFile(docname), &xmlFreeDoc);
    if (!document || library_memory_failed()) {
        write_diagnostic("document not parsed successfully. \n");
        return DocumentPtr(nullptr, &xmlFreeDoc);
    }
    const xmlNode *root = xmlDocGetRootElement(document.get());
    if (root == nullptr) {
        write_diagnostic("empty document\n");
        return DocumentPtr(nullptr, &xmlFreeDoc);
    }
    if (!name_is(root, "missions")) {
        write_diagnostic("document of the wrong type, root node != missions");
        return DocumentPtr(nullptr, &xmlFreeDoc);
    }
    return document;
}

} // namespace

int main(int argc, char **argv)
{
    prepare_process();
    if (argc < 2) {
        std::printf("Usage: %s docname\n", program_name(argc, argv, "quaywatch2"));
        return 0;
    }
    const DocumentPtr document = intake_document(argv[1]);
    if (!document) {
        return 0;
    }
    try {
        const xmlNode *mission = xmlDocGetRootElement(document.get());
        Arrivals arrivals;
        if (train_arrives(document.get(), mission)) {
            read_arrival(document.get(), mission, StationNames::not_read, ValueItems::not_read,
                         arrivals);
        }
        if (library_memory_failed()) {
            throw std::bad_alloc();
        }
        print_every_arrival(arrivals);
        return 1;
    } catch (const std::bad_alloc &) {
        write_diagnostic("out of memory\n");
        return 0;
    }
}
