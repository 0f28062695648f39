// The floor of any reading of a reply: the library's parse with a handler that has no callbacks,
// so that the document is tokenized and checked for well-formedness, namespaces included, and
// nothing is built. Its status says whether the document parsed.
#include <libxml/parser.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::printf("Usage: %s docname\n", argc > 0 ? argv[0] : "tokenize_floor");
        return 0;
    }
    xmlSAXHandler handler{};
    // A handler of the second version has the parse process namespaces, as the tree builder's.
    handler.initialized = XML_SAX2_MAGIC;
    return xmlSAXUserParseFile(&handler, nullptr, argv[1]) == 0 ? 1 : 0;
}
