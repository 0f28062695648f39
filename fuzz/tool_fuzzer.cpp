// Puts arbitrary bytes through one program, from the parse of its document to its last report,
// by writing them to a file and calling the program's own main on it. The program's source is
// compiled into this target with its main renamed tool_main.
#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int tool_main(int argc, char **argv);

namespace {

// The library's diagnostics are not under test, and writing them would slow every run down.
void ignore_diagnostic(void * /*context*/, const char * /*format*/, ...)
{
}

std::string scratch_path(const char *suffix)
{
    const char *folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/quaywatch-fuzz-" +
           std::to_string(::getpid()) + suffix;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
    xmlSetGenericErrorFunc(nullptr, ignore_diagnostic);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string document = scratch_path(".xml");
    std::string csv = scratch_path(".csv");
    std::FILE *file = std::fopen(document.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    std::string program = "fuzzed";
    char *argv[] = {program.data(), document.data(), csv.data(), nullptr};
    tool_main(TOOL_ARGC, argv);
    std::fflush(stdout);
    std::remove(csv.c_str());
    std::remove(document.c_str());
    return 0;
}
