// The intake of a document, shared by every program, each with its own messages, and what each
// program's start and end do to its process.
#include "reply.h"

#include <libxml/parser.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void prepare_process()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        // The lowest free descriptor is the one just found closed.
        if (::fcntl(descriptor, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
    // A write past the file-size limit (ulimit -f) fails with EFBIG, and is said, rather than
    // ending the run unsaid with SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
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
    if (!root_accepted(document.get(), root_name, wrong_type)) {
        document.reset();
    }
    return document;
}

bool root_accepted(const xmlDoc *document, const char *root_name, std::string_view wrong_type)
{
    const xmlNode *root = xmlDocGetRootElement(document);
    if (root == nullptr) {
        write_diagnostic("empty document\n");
        return false;
    }
    if (!name_is(root, root_name)) {
        write_diagnostic(wrong_type);
        return false;
    }
    return true;
}

const char *program_name(int argc, char **argv, const char *fallback)
{
    if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0') {
        return fallback;
    }
    return argv[0];
}
