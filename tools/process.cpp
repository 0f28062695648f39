// The start of every program's process.
#include "tool.h"

#include <cerrno>
#include <csignal>
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
    std::signal(SIGXFSZ, SIG_IGN);
    watch_library_memory();
}

const char *program_name(int argc, char **argv, const char *fallback)
{
    if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0') {
        return fallback;
    }
    return argv[0];
}
