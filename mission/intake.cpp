// The document intake shared by every program, each with its own messages.
#include "mission.h"

#include <libxml/parser.h>

#include <cstdio>

void write_diagnostic(std::string_view message)
{
    std::fwrite(message.data(), 1, message.size(), stderr);
}

DocumentPtr load_document(const char *docname, std::string_view parse_failure)
{
    // The library's default options: "-" reads standard input, and its own diagnostics reach
    // standard error before ours.
    DocumentPtr document(xmlParseFile(docname), &xmlFreeDoc);
    if (!document) {
        write_diagnostic(parse_failure);
    }
    return document;
}

const xmlNode *expected_root(const xmlDoc *document, const char *root_name,
                             std::string_view wrong_type)
{
    const xmlNode *root = xmlDocGetRootElement(document);
    if (root == nullptr) {
        write_diagnostic("empty document\n");
        return nullptr;
    }
    if (!name_is(root, root_name)) {
        write_diagnostic(wrong_type);
        return nullptr;
    }
    return root;
}

const char *program_name(int argc, char **argv, const char *fallback)
{
    if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0') {
        return fallback;
    }
    return argv[0];
}
