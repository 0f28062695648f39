// quaywatch_per_station docname csvname: reports the first mission of a compact service reply
// whose train is at the platform, and appends it to a CSV file as one record.
#include "tool.h"

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
    try {
        const ReplyFound found =
            read_reply(argv[1], Layout::compact, Wanted::first_arrival_with_stations);
        say_outcome(found);
        if (found.outcome != Outcome::reported) {
            return exit_status(found.outcome);
        }
        return exit_status(log_first_arrival(found, argv[2]));
    } catch (const std::bad_alloc &) {
        say_outcome(ReplyFound{.outcome = Outcome::out_of_memory});
        return exit_status(Outcome::out_of_memory);
    }
}
