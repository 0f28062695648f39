// quaywatch-log [-a SOAPACTION] [-r REQUEST] [-t SECONDS] [-m BYTES] URL CSV
// quaywatch-log [-a SOAPACTION] [-r REQUEST] [-t SECONDS] [-m BYTES] -c CONFIG
//
// Asks a board service for its reply and logs the train at the platform, if there is one: the
// request is POSTed to URL, the reply received whole into memory, and then read as
// quaywatch_per_station reads a reply, which appends the arriving mission to CSV. The exit
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

int log_board(const Settings &settings)
{
    Url url;
    std::string request;
    if (const std::optional<int> ended = prepare_fetch(settings, url, request)) {
        return *ended;
    }
    Reply reply;
    if (const std::optional<int> ended = fetch(settings, url, request, reply)) {
        return *ended;
    }
    // A SOAP service answers a failure with HTTP 500 and a Fault; any other status than these
    // two is no reply of the service's to read.
    if (reply.http_status == 500 &&
        read_fault_in_memory(reply.body, url.shown.c_str()) == Outcome::fault) {
        return refused_status;
    }
    if (reply.http_status != 200) {
        say("reply from " + url.shown + " refused: HTTP " + std::to_string(reply.http_status));
        return refused_status;
    }
    return status_of(read_reply_in_memory(reply.body, url.shown.c_str(), settings.csv.c_str()));
}

int run(int argc, char **argv)
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
    const int status = log_board(settings);
    curl_global_cleanup();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    prepare_process();
    // A console reader that goes away early must not cost the log its record.
    std::signal(SIGPIPE, SIG_IGN);
    std::string pending_diagnostic;
    escape_library_diagnostics(pending_diagnostic);
    int status = fetch_status;
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc &) {
        // Nothing more may be asked of the allocator.
        write_escaped_line("quaywatch-log: out of memory\n");
    }
    end_library_diagnostics(pending_diagnostic);
    return status;
}
