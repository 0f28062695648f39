// quaywatch docname: reports every mission of an indented service reply whose train is at the
// platform.
#include "tool.h"

#include <cstdio>

int main(int argc, char **argv)
{
    prepare_process();
    if (argc < 2) {
        std::printf("Usage: %s docname\n", program_name(argc, argv, "quaywatch"));
        return 0;
    }
    try {
        const ReplyFound found = read_reply(argv[1], Layout::indented, Wanted::every_arrival);
        say_outcome(found);
        print_every_arrival(found.arrivals);
        return exit_status(found.outcome);
    } catch (const std::bad_alloc &) {
        say_outcome(ReplyFound{.outcome = Outcome::out_of_memory});
        return exit_status(Outcome::out_of_memory);
    }
}
