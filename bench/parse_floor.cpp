// The floor of every tool's cost: parse a document into a tree with the default options and
// release it, nothing more.
#include <libxml/parser.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::printf("Usage: %s docname\n", argc > 0 ? argv[0] : "parse_floor");
        return 0;
    }
    xmlDoc *document = xmlParseFile(argv[1]);
    if (document == nullptr) {
        return 0;
    }
    const bool has_root = xmlDocGetRootElement(document) != nullptr;
    xmlFreeDoc(document);
    return has_root ? 1 : 0;
}
