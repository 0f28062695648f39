// quaywatch2 docname: reports the mission of a single-mission document when its train is at
// the platform.
#include "reply.h"

#include <cstdio>

int main(int argc, char **argv)
{
    prepare_process();
    if (argc < 2) {
        std::printf("Usage: %s docname\n", program_name(argc, argv, "quaywatch2"));
        return 0;
    }
    const DocumentPtr document =
        intake_document(argv[1], "missions", "document not parsed successfully. \n",
                        "document of the wrong type, root node != missions");
    if (!document) {
        return 0;
    }
    const xmlNode *mission = xmlDocGetRootElement(document.get());
    const bool completed = reports_completed([&] {
        std::string console;
        if (train_arrives(document.get(), mission)) {
            print_stationDates(document.get(), mission, ValueItems::not_read, console);
            print_direction(document.get(), mission, console);
        }
        write_reports(console);
    });
    return completed ? 1 : 0;
}
