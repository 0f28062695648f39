// The document intake shared by every program, each with its own messages.
#include "mission.h"

#include <libxml/parser.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void write_diagnostic(std::string_view message)
{
    std::fwrite(message.data(), 1, message.size(), stderr);
}

void prepare_process()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        // The lowest free descriptor is the one just found closed.
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
    watch_library_memory();
}

DocumentPtr intake_document(const char *docname, const char *root_name,
                            std::string_view parse_failure, std::string_view wrong_type)
{
    DocumentPtr document(xmlParseFile(docname), &xmlFreeDoc);
    if (!document || library_memory_failed()) {
        document.reset();
        write_diagnostic(parse_failure);
        return document;
    }
    const xmlNode *root = xmlDocGetRootElement(document.get());
    if (root == nullptr) {
        write_diagnostic("empty document\n");
        document.reset();
    } else if (!name_is(root, root_name)) {
        write_diagnostic(wrong_type);
        document.reset();
    }
    return document;
}

const char *program_name(int argc, char **argv, const char *fallback)
{
    if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0') {
        return fallback;
    }
    return argv[0];
}
