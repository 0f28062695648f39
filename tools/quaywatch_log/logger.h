// quaywatch-log: what its files share. The settings of a run, from its command line and its
// configuration file; the URL; the fetch of a reply, read as it comes in; the run's messages.
#pragma once

#include "tool.h"

#include <map>
#include <string>

namespace logger {

constexpr const char *program = "quaywatch-log";

// The exit status says what happened, never read back from any text.
enum Status {
    read_status = 0,    // the reply was read: its arriving mission logged, or none
    usage_status = 1,   // arguments, configuration or request
    fetch_status = 2,   // the fetch failed
    refused_status = 3, // the reply was refused
    log_status = 4      // the record was not appended
};

// What one run is asked to do, from its command line or its configuration file.
struct Settings {
    std::string url;
    std::string csv;
    std::string request;
    std::string soap_action;
    long timeout_seconds = 30;
    std::size_t max_size = std::size_t{16} << 20;
    Layout layout = Layout::of_the_reply;
    // The configuration file, when one was read, and the line of each key that it set and the
    // command line did not set again, so that a value refused later is told by its line.
    std::string config;
    std::map<std::string, int> config_lines;
};

// The largest request sent: a board's request is a few hundred bytes.
constexpr std::size_t largest_request = std::size_t{1} << 20;

// The settings of the command line and of the configuration file it names; an exit status when
// the run ends here, its message said.
std::optional<int> read_settings(int argc, char **argv, Settings &settings);
// The bytes of a regular file of at most `largest` bytes, opened so that a FIFO or a device never
// keeps the run waiting; the reason it cannot be read otherwise.
std::string read_regular_file(const std::string &path, std::size_t largest, std::string &content);

// The URL as it is fetched (its host in its IDNA form) and as a message shows it (scheme, host,
// port and path alone: no user, password, query or fragment).
struct Url {
    std::string fetched;
    std::string shown;
};
// True when the text holds a C0 control or DEL, which no header and no URL may carry.
bool has_control_character(std::string_view text);
// The URL of an http or https URL; the reason it is refused otherwise.
std::string prepare_url(const std::string &url, Url &prepared);

// What the fetch came to: the reply's HTTP status, and what the reading of its body found.
struct Fetched {
    long http_status = 0;
    ReplyFound found{};
};
// POSTs the request and reads the reply as it comes in: the exit status of a run that ends here,
// its message said, or none. The reading's outcome is told only once the fetch has ended well.
std::optional<int> fetch(const Settings &settings, const Url &url, const std::string &request,
                         Fetched &fetched);

// "quaywatch-log: MESSAGE" on standard error, escaped whole.
void say(const std::string &message);
// The same for a value of the settings: a value that the configuration file set is told by the
// file's name and the key's line.
void say_of_setting(const Settings &settings, const std::string &key, const std::string &message);
// The XML library's diagnostics on the reply, escaped, each of their lines kept a line, and held
// until the fetch has ended well, when they are written before anything else is said of the
// reply; a fetch that fails drops them with the reply.
struct LibraryDiagnostics {
    std::string pending_line;
    std::string held;
};
void hold_library_diagnostics(LibraryDiagnostics &diagnostics);
void write_library_diagnostics(LibraryDiagnostics &diagnostics);
void end_library_diagnostics(LibraryDiagnostics &diagnostics);

} // namespace logger
