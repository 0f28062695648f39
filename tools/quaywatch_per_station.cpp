// quaywatch_per_station docname csvname: reports the first mission of a compact service reply
// whose train is at the platform, and appends it to a CSV file as one record.
#include "reply.h"

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    prepare_process();
    // A console reader that goes away early must not cost the log its record.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 3) {
        std::printf("Usage: %s docname csvname\n",
                    program_name(argc, argv, "quaywatch_per_station"));
        return 0;
    }
    return exit_status(read_reply(argv[1], argv[2]));
}
