// quaywatch-log [-a SOAPACTION] [-l LAYOUT] [-r REQUEST] [-t SECONDS] [-m BYTES] URL CSV
// quaywatch-log [-a SOAPACTION] [-l LAYOUT] [-r REQUEST] [-t SECONDS] [-m BYTES] -c CONFIG
//
// Asks a board service for its reply and logs the train at the platform, if there is one: the
// request is POSTed to URL, and the reply read as it comes in, in the layout it tells (or the
// one asked for), as quaywatch_per_station reads a reply; its first arriving mission is printed
// and appended to CSV once the fetch has ended well. The exit
// status says what happened, never read back from any text: 0 read (logged, or no train), 1 usage,
// configuration or request, 2 fetch failed, 3 reply refused, 4 record not appended.
#include "logger.h"

#include <curl/curl.h>

#include <array>
#include <climits>
#include <csignal>
#include <unistd.h>

namespace {

using namespace logger;

constexpr const char *default_soap_action = "\"urn:example:board#getBoard\"";

// The request that comes with quaywatch, where it is installed beside this program.
std::string default_request()
{
    std::array<char, PATH_MAX> executable{};
    const ssize_t length = ::readlink("/proc/self/exe", executable.data(), executable.size() - 1);
    std::string folder = length > 0
                             ? std::string(executable.data(), static_cast<std::size_t>(length))
                             : std::string("/usr/bin/quaywatch-log");
    folder.erase(folder.rfind('/') + 1);
    return folder + "../share/quaywatch/request.xml";
}

int status_of(Outcome outcome)
{
    switch (outcome) {
    case Outcome::reported:
    case Outcome::no_train:
        return read_status;
    case Outcome::record_not_appended:
        return log_status;
    case Outcome::out_of_memory:
        return fetch_status;
    default:
        return refused_status;
    }
}

// Everything that can be refused before anything is sent: the URL, the SOAPAction, the request.
std::optional<int> prepare_fetch(const Settings &settings, Url &url, std::string &request)
{
    if (const std::string refused = prepare_url(settings.url, url); !refused.empty()) {
        say_of_setting(settings, "URL", refused);
        return usage_status;
    }
    if (has_control_character(settings.soap_action)) {
        say_of_setting(settings, "SOAPACTION", "SOAPACTION holds a control character");
        return usage_status;
    }
    if (const std::string reason = read_regular_file(settings.request, largest_request, request);
        !reason.empty()) {
        say_of_setting(settings, "REQUEST", "request " + settings.request + ": " + reason);
        return usage_status;
    }
    return std::nullopt;
}

// Says what the reply came to, appends its arriving mission, and gives the run's status. A SOAP
// service answers a failure with HTTP 500 and a Fault; a 500 without one is no reply to read.
int log_reply(const Settings &settings, const Url &url, const Fetched &fetched,
              LibraryDiagnostics &diagnostics)
{
    const ReplyFound &found = fetched.found;
    if (fetched.http_status == 500 && found.outcome != Outcome::fault) {
        say("reply from " + url.shown + " refused: HTTP 500");
        return refused_status;
    }
    // Where memory ran short, the library's words depend on which allocation failed first; the
    // run says out of memory alone, whichever it was.
    if (found.outcome != Outcome::out_of_memory) {
        write_library_diagnostics(diagnostics);
    }
    say_outcome(found);
    if (found.outcome != Outcome::reported) {
        return status_of(found.outcome);
    }
    return status_of(log_first_arrival(found, settings.csv.c_str()));
}

int log_board(const Settings &settings, LibraryDiagnostics &diagnostics)
{
    Url url;
    std::string request;
    if (const std::optional<int> ended = prepare_fetch(settings, url, request)) {
        return *ended;
    }
    Fetched fetched;
    if (const std::optional<int> ended = fetch(settings, url, request, fetched)) {
        return *ended;
    }
    return log_reply(settings, url, fetched, diagnostics);
}

int run(int argc, char **argv, LibraryDiagnostics &diagnostics)
{
    Settings settings;
    if (const std::optional<int> ended = read_settings(argc, argv, settings)) {
        return *ended;
    }
    if (settings.request.empty()) {
        settings.request = default_request();
    }
    if (settings.soap_action.empty()) {
        settings.soap_action = default_soap_action;
    }
    // libcurl takes its memory from the allocator that notes a failure, as the XML library does.
    if (curl_global_init_mem(CURL_GLOBAL_DEFAULT, watched_malloc, release_watched, watched_realloc,
                             watched_strdup, watched_calloc) != CURLE_OK) {
        say("the fetch could not be set up");
        return fetch_status;
    }
    const int status = log_board(settings, diagnostics);
    curl_global_cleanup();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    prepare_process();
    // A console reader that goes away early must not cost the log its record.
    std::signal(SIGPIPE, SIG_IGN);
    LibraryDiagnostics diagnostics;
    hold_library_diagnostics(diagnostics);
    int status = fetch_status;
    try {
        status = run(argc, argv, diagnostics);
    } catch (const std::bad_alloc &) {
        // Nothing more may be asked of the allocator.
        write_escaped_line("out of memory\n");
        status = fetch_status;
    }
    end_library_diagnostics(diagnostics);
    return status;
}
