// quaywatch docname: reports every mission of an indented service reply whose train is at the
// platform.
#include "reply.h"

#include <cstdio>

int main(int argc, char **argv)
{
    prepare_process();
    if (argc < 2) {
        std::printf("Usage: %s docname\n", program_name(argc, argv, "quaywatch"));
        return 0;
    }
    return exit_status(read_reply(argv[1], nullptr));
}
