// Puts arbitrary bytes through both readings of a reply, the one that streams and the whole-tree
// reference, as quaywatch reads it and as quaywatch_per_station does, and stops on the first
// input on which they differ in anything they give: outcome, standard output, standard error
// (the library's diagnostics included) or CSV bytes. Bytes that parse are also laid out once
// indented, for quaywatch, and once compact, for quaywatch_per_station, so that every input is
// a reply of the layout each tool reads.
#include "reply.h"

#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

Outcome reference_read_reply(const char *docname, const char *csvname);

namespace {

std::string scratch_path(const char *suffix)
{
    const char *folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/quaywatch-fuzz-" +
           std::to_string(::getpid()) + suffix;
}

std::string read_file(const std::string &path)
{
    std::string content;
    if (std::FILE *file = std::fopen(path.c_str(), "rb"); file != nullptr) {
        char buffer[4096];
        for (std::size_t part; (part = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            content.append(buffer, part);
        }
        std::fclose(file);
    }
    return content;
}

// The document laid out again, indented or compact; empty when the bytes do not parse.
std::string laid_out(const std::uint8_t *data, std::size_t size, bool indented)
{
    const DocumentPtr document(xmlReadMemory(reinterpret_cast<const char *>(data),
                                             static_cast<int>(size), nullptr, nullptr,
                                             XML_PARSE_NOBLANKS | XML_PARSE_NOERROR |
                                                 XML_PARSE_NOWARNING | XML_PARSE_NONET),
                               &xmlFreeDoc);
    if (!document) {
        return {};
    }
    xmlChar *bytes = nullptr;
    int length = 0;
    xmlDocDumpFormatMemory(document.get(), &bytes, &length, indented ? 1 : 0);
    std::string text(reinterpret_cast<const char *>(bytes), length > 0 ? length : 0);
    xmlFree(bytes);
    return text;
}

struct Given {
    Outcome outcome;
    std::string out;
    std::string err;
    std::string csv;
};

// One reading, its standard streams taken into files for the while.
template <typename Reading>
Given run(Reading reading, const std::string &document, bool per_station)
{
    const std::string out_path = scratch_path(".out");
    const std::string err_path = scratch_path(".err");
    const std::string csv_path = scratch_path(".csv");
    std::remove(csv_path.c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = ::dup(STDOUT_FILENO);
    const int saved_err = ::dup(STDERR_FILENO);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    const Outcome outcome = reading(document.c_str(), per_station ? csv_path.c_str() : nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(saved_out, STDOUT_FILENO);
    ::dup2(saved_err, STDERR_FILENO);
    for (const int descriptor : {saved_out, saved_err, out, err}) {
        ::close(descriptor);
    }
    Given given{outcome, read_file(out_path), read_file(err_path), read_file(csv_path)};
    for (const std::string &path : {out_path, err_path, csv_path}) {
        std::remove(path.c_str());
    }
    return given;
}

// Both readings of one document by one tool; aborts where they differ.
void compare_readings(const std::string &document, bool per_station)
{
    const Given streaming = run(read_reply, document, per_station);
    const Given whole = run(reference_read_reply, document, per_station);
    if (streaming.outcome != whole.outcome || streaming.out != whole.out ||
        streaming.err != whole.err || streaming.csv != whole.csv) {
        std::fprintf(stderr, "the readings differ (%s): outcome %d and %d\n",
                     per_station ? "per station" : "console", static_cast<int>(streaming.outcome),
                     static_cast<int>(whole.outcome));
        std::abort();
    }
}

bool write_file(const std::string &path, const void *bytes, std::size_t size)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::fwrite(bytes, 1, size, file);
    std::fclose(file);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string document = scratch_path(".xml");
    if (size > 1 << 20 || !write_file(document, data, size)) {
        return 0;
    }
    compare_readings(document, false);
    compare_readings(document, true);
    for (const bool indented : {true, false}) {
        const std::string reply = laid_out(data, size, indented);
        if (!reply.empty() && write_file(document, reply.data(), reply.size())) {
            compare_readings(document, !indented);
        }
    }
    std::remove(document.c_str());
    return 0;
}
