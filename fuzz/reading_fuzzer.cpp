// Puts arbitrary bytes through both readings of a reply, the one that streams and the whole-tree
// reference, as quaywatch reads it and as quaywatch_per_station does, and stops on the first
// input on which they differ in anything they give: the outcome, the fault's words, the values of
// the arriving missions, or the library's diagnostics. Bytes that parse are also laid out once
// indented, for quaywatch, and once compact, for quaywatch_per_station, so that every input is
// a reply of the layout each tool reads; and the streaming reading is fed them as a stream in
// pieces too, with the layout told by the reply, as the logger reads a reply.
#include "reply.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

ReplyFound reference_read_reply(const char *docname, Layout layout, Wanted wanted);

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

void count_error(void *context, xmlError *error)
{
    if (error != nullptr && error->level >= XML_ERR_ERROR) {
        ++*static_cast<int *>(context);
    }
}

// True when the library parses the reply without an error of any kind, in an encoding of its
// own. The file's parse reads on past some errors (bytes that do not convert from the declared
// encoding, an encoding it does not know), which the stream's parse stops at.
bool parses_cleanly(const std::string &reply)
{
    int errors = 0;
    xmlSetStructuredErrorFunc(&errors, count_error);
    const DocumentPtr document(xmlReadMemory(reply.data(), static_cast<int>(reply.size()), nullptr,
                                             nullptr, XML_PARSE_NONET),
                               &xmlFreeDoc);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (!document || errors != 0) {
        return false;
    }
    // An encoding converted by the system's iconv may lose a character cut between two pieces
    // of a stream: only the library's own encodings are held to the same reading.
    const char *encoding = reinterpret_cast<const char *>(document->encoding);
    return encoding == nullptr || xmlParseCharEncoding(encoding) != XML_CHAR_ENCODING_ERROR;
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
    ReplyFound found;
    std::string diagnostics;
};

bool same_values(const Arrivals &one, const Arrivals &other)
{
    if (one.text != other.text || one.missions != other.missions ||
        one.values.size() != other.values.size()) {
        return false;
    }
    for (std::size_t index = 0; index < one.values.size(); ++index) {
        if (one.values[index].end != other.values[index].end ||
            one.values[index].field != other.values[index].field) {
            return false;
        }
    }
    return true;
}

bool same(const Given &one, const Given &other)
{
    return one.found.outcome == other.found.outcome &&
           one.found.fault_text == other.found.fault_text &&
           same_values(one.found.arrivals, other.found.arrivals) &&
           one.diagnostics == other.diagnostics;
}

// One reading, its standard error (where the library says what it finds) taken into a file for
// the while.
template <typename Reading> Given run(Reading reading)
{
    const std::string err_path = scratch_path(".err");
    std::fflush(stderr);
    const int saved_err = ::dup(STDERR_FILENO);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, STDERR_FILENO);
    ReplyFound found = reading();
    std::fflush(stderr);
    ::dup2(saved_err, STDERR_FILENO);
    ::close(saved_err);
    ::close(err);
    Given given{std::move(found), read_file(err_path)};
    std::remove(err_path.c_str());
    return given;
}

[[noreturn]] void differ(const char *how, const Given &one, const Given &other)
{
    std::fprintf(stderr, "the readings differ (%s): outcome %d and %d\n", how,
                 static_cast<int>(one.found.outcome), static_cast<int>(other.found.outcome));
    std::abort();
}

// Both readings of one document as one tool reads it; aborts where they differ.
void compare_readings(const std::string &document, bool per_station)
{
    const Layout layout = per_station ? Layout::compact : Layout::indented;
    const Wanted wanted = per_station ? Wanted::first_arrival_with_stations : Wanted::every_arrival;
    const Given streaming = run([&] { return read_reply(document.c_str(), layout, wanted); });
    const Given whole = run([&] { return reference_read_reply(document.c_str(), layout, wanted); });
    if (!same(streaming, whole)) {
        differ(per_station ? "per station" : "console", streaming, whole);
    }
}

// The layout that a reply tells: indented when its root's first child node is a text node of
// whitespace alone.
bool tells_indented(const std::string &reply)
{
    const DocumentPtr document(
        xmlReadMemory(reply.data(), static_cast<int>(reply.size()), nullptr, nullptr,
                      XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET),
        &xmlFreeDoc);
    const xmlNode *root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    const xmlNode *first = root != nullptr ? root->children : nullptr;
    if (first == nullptr || first->type != XML_TEXT_NODE || first->content == nullptr) {
        return false;
    }
    const std::string_view text(reinterpret_cast<const char *>(first->content));
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The reading fed in pieces of a few bytes, the layout told by the reply, against the reference
// given the layout the reply tells; their diagnostics differ in kind (a stream stops at the first
// fatal error), so only what they found is compared. A reply that the library's own parse
// writes must read the same both ways; of other bytes, the stream may refuse as not parsed what
// the file's parse lets by (bytes past the end of the document, in an encoding the library does
// not know, tell apart by the pieces they come in), but never read them otherwise.
void compare_stream(const std::string &reply, bool well_written)
{
    const bool indented = tells_indented(reply);
    const std::string document = scratch_path(".stream.xml");
    std::FILE *file = std::fopen(document.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    std::fwrite(reply.data(), 1, reply.size(), file);
    std::fclose(file);
    const Given whole = run([&] {
        return reference_read_reply(document.c_str(), indented ? Layout::indented : Layout::compact,
                                    Wanted::first_arrival_with_stations);
    });
    const Given streamed = run([&] {
        ReplyStreamPtr stream =
            start_reply_stream(document.c_str(), Layout::of_the_reply,
                               Wanted::first_arrival_with_stations, Sought::board);
        for (std::size_t start = 0; start < reply.size(); start += 7) {
            feed_reply_stream(*stream, std::string_view(reply).substr(start, 7));
        }
        return finish_reply_stream(*stream);
    });
    std::remove(document.c_str());
    Given found_only = streamed;
    found_only.diagnostics = whole.diagnostics;
    const bool refused_alone = !well_written && streamed.found.outcome == Outcome::not_parsed;
    if (!same(found_only, whole) && !refused_alone) {
        differ("streamed", streamed, whole);
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
            compare_stream(reply, parses_cleanly(reply));
        }
    }
    compare_stream(std::string(reinterpret_cast<const char *>(data), size), false);
    std::remove(document.c_str());
    return 0;
}
