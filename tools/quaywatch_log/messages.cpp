// The logger's messages. Its standard error is a journal or a terminal, and what it says carries
// what a service or a caller controls (a fault's words, a URL, a file name, the XML library's
// context line): every message is built whole and escaped once, so that it is one line and sends
// no control.
#include "logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <libxml/xmlerror.h>

namespace logger {

namespace {

// The words that the library puts before a diagnostic of its own, by its domain and level. It
// writes them itself where it formats the diagnostic (those of the parse), and leaves them to a
// handler of our own for the others: the encoding's, the input's, the memory's.
std::string_view prefix_of(const xmlError *error)
{
    if (error == nullptr) {
        return {};
    }
    const bool warning = error->level == XML_ERR_WARNING;
    switch (error->domain) {
    case XML_FROM_I18N:
        return warning ? "encoding warning : " : "encoding error : ";
    case XML_FROM_IO:
        return warning ? "I/O warning : " : "I/O error : ";
    case XML_FROM_MEMORY:
        return warning ? "memory warning : " : "memory error : ";
    default:
        return {};
    }
}

// The library writes a diagnostic in pieces, each of its lines ending with the piece that
// ends it. A line feed inside a piece may be the document's, and is escaped with the rest, so
// that a reply can never write a line of its own.
void take_library_diagnostic(void *context, const char *format, ...)
{
    auto &diagnostics = *static_cast<LibraryDiagnostics *>(context);
    va_list arguments;
    va_start(arguments, format);
    char *formatted = nullptr;
    const int length = ::vasprintf(&formatted, format, arguments);
    va_end(arguments);
    if (length < 0) {
        // A diagnostic that memory does not allow is lost; the parse ends the run as refused.
        return;
    }
    const std::unique_ptr<char, decltype(&std::free)> owned(formatted, &std::free);
    const std::string_view piece(formatted, static_cast<std::size_t>(length));
    try {
        // A diagnostic that the library did not format comes whole, as its last error.
        if (diagnostics.pending_line.empty() && std::string_view(format) == "%s") {
            diagnostics.pending_line += prefix_of(xmlGetLastError());
        }
        diagnostics.pending_line += escaped_message(piece);
        if (piece.ends_with('\n')) {
            diagnostics.held += diagnostics.pending_line;
            diagnostics.pending_line.clear();
        }
    } catch (const std::bad_alloc &) {
        return;
    }
}

} // namespace

void say(const std::string &message)
{
    write_diagnostic(std::string(program) + ": " + message + "\n");
}

void say_of_setting(const Settings &settings, const std::string &key, const std::string &message)
{
    const auto line = settings.config_lines.find(key);
    if (line == settings.config_lines.end()) {
        say(message);
        return;
    }
    say(settings.config + ":" + std::to_string(line->second) + ": " + message);
}

void hold_library_diagnostics(LibraryDiagnostics &diagnostics)
{
    xmlSetGenericErrorFunc(&diagnostics, take_library_diagnostic);
}

void write_library_diagnostics(LibraryDiagnostics &diagnostics)
{
    if (!diagnostics.pending_line.empty()) {
        diagnostics.held += diagnostics.pending_line + "\n";
        diagnostics.pending_line.clear();
    }
    write_escaped_line(diagnostics.held);
    diagnostics.held.clear();
}

void end_library_diagnostics(LibraryDiagnostics &diagnostics)
{
    xmlSetGenericErrorFunc(nullptr, nullptr);
    diagnostics.held.clear();
    diagnostics.pending_line.clear();
}

} // namespace logger
