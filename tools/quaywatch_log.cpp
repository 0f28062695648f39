// quaywatch-log [-a SOAPACTION] [-r REQUEST] [-t SECONDS] [-m BYTES] URL CSV
// quaywatch-log -c CONFIG
//
// Asks a board service for its reply and logs the train at the platform, if there is one: the
// request is POSTed to URL, the reply received whole into memory, and then read as
// quaywatch_per_station reads a reply, which appends the arriving mission to CSV. The exit
// status says what happened, never read back from any text: 0 read (logged, or no train), 1 usage,
// configuration or request, 2 fetch failed, 3 reply refused, 4 record not appended.
#include "reply.h"

#include <curl/curl.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *program = "quaywatch-log";
constexpr const char *default_soap_action = "\"urn:example:board#getBoard\"";
constexpr long default_timeout_seconds = 30;
constexpr long connect_timeout_seconds = 10;
constexpr std::size_t default_max_size = std::size_t{16} << 20;
// What a run may be asked to take: far beyond any board, still within what a parse can be handed.
constexpr std::size_t largest_max_size = std::size_t{1} << 30;
constexpr long largest_timeout_seconds = 86400;
constexpr std::size_t largest_value = 4096;
constexpr std::size_t largest_config = std::size_t{1} << 20;

enum Status {
    read_status = 0,
    usage_status = 1,
    fetch_status = 2,
    refused_status = 3,
    log_status = 4
};

// What one run is asked to do, from its command line or its configuration file.
struct Settings {
    std::string url;
    std::string csv;
    std::string request;
    std::string soap_action;
    long timeout_seconds = default_timeout_seconds;
    std::size_t max_size = default_max_size;
};

// The reply as it comes in, bounded as it comes: a compressed reply is counted once decoded.
struct Reply {
    std::string body;
    std::size_t max_size;
    bool oversized = false;
};

void say(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
}

// A line of a configuration file that is refused, by the file's name and the line's number.
void say_of_line(const std::string &config, int number, const std::string &reason)
{
    std::fprintf(stderr, "%s: %s:%d: %s\n", program, config.c_str(), number, reason.c_str());
}

int usage()
{
    std::fprintf(stderr,
                 "usage: %s [-a SOAPACTION] [-r REQUEST] [-t SECONDS] [-m BYTES] URL CSV\n"
                 "       %s -c CONFIG\n",
                 program, program);
    return usage_status;
}

// This program's standard error is a journal, or a terminal: what the service sends must not
// reach it as control characters, only as their escapes.
ssize_t write_escaped(void * /*cookie*/, const char *bytes, std::size_t size)
{
    std::array<char, 1024> escaped{};
    std::size_t filled = 0;
    const auto flush = [&] {
        for (std::size_t written = 0; written < filled;) {
            const ssize_t part = ::write(STDERR_FILENO, escaped.data() + written, filled - written);
            if (part <= 0 && errno != EINTR) {
                break;
            }
            written += part > 0 ? static_cast<std::size_t>(part) : 0;
        }
        filled = 0;
    };
    // C1 controls come in UTF-8 as C2 80 to C2 9F; some terminals take them as escapes too.
    bool c1_control = false;
    for (std::size_t index = 0; index < size; ++index) {
        const auto byte = static_cast<unsigned char>(bytes[index]);
        if (filled + 4 > escaped.size()) {
            flush();
        }
        const bool c1_lead = byte == 0xc2 && index + 1 < size &&
                             static_cast<unsigned char>(bytes[index + 1]) >= 0x80 &&
                             static_cast<unsigned char>(bytes[index + 1]) <= 0x9f;
        if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7f || c1_lead ||
            c1_control) {
            filled += static_cast<std::size_t>(
                std::snprintf(escaped.data() + filled, 5, "\\x%02x", static_cast<unsigned>(byte)));
        } else {
            escaped[filled++] = static_cast<char>(byte);
        }
        c1_control = c1_lead;
    }
    flush();
    return static_cast<ssize_t>(size);
}

void escape_standard_error()
{
    cookie_io_functions_t functions{};
    functions.write = write_escaped;
    std::FILE *escaped = fopencookie(nullptr, "w", functions);
    if (escaped == nullptr) {
        return;
    }
    std::setvbuf(escaped, nullptr, _IOLBF, 0);
    stderr = escaped;
    // The library's diagnostics go the same way.
    xmlSetGenericErrorFunc(escaped, nullptr);
}

bool has_control_character(std::string_view text)
{
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7f) {
            return true;
        }
    }
    return false;
}

// A whole number within bounds, or nothing.
std::optional<long long> bounded_number(std::string_view text, long long largest)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos) {
        return std::nullopt;
    }
    const long long number = std::stoll(std::string(text));
    if (number < 1 || number > largest) {
        return std::nullopt;
    }
    return number;
}

// Sets a setting from its text; gives the reason it cannot be, or an empty one.
std::string set_timeout(Settings &settings, std::string_view text)
{
    const std::optional<long long> seconds = bounded_number(text, largest_timeout_seconds);
    if (!seconds) {
        return "not a number of seconds from 1 to 86400: " + std::string(text);
    }
    settings.timeout_seconds = static_cast<long>(*seconds);
    return {};
}

std::string set_max_size(Settings &settings, std::string_view text)
{
    const std::optional<long long> bytes =
        bounded_number(text, static_cast<long long>(largest_max_size));
    if (!bytes) {
        return "not a number of bytes from 1 to 1073741824: " + std::string(text);
    }
    settings.max_size = static_cast<std::size_t>(*bytes);
    return {};
}

// The bytes of a regular file that this run may read, opened so that a FIFO or a device never
// keeps it waiting; the reason it cannot be read otherwise.
std::string read_regular_file(const std::string &path, std::size_t largest, std::string &content)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::strerror(errno);
    }
    struct stat status {};
    std::string reason;
    if (::fstat(descriptor, &status) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        reason = "not a regular file";
    } else if (static_cast<std::size_t>(status.st_size) > largest) {
        reason = "over " + std::to_string(largest) + " bytes";
    }
    std::array<char, 65536> buffer{};
    while (reason.empty()) {
        const ssize_t part = ::read(descriptor, buffer.data(), buffer.size());
        if (part == 0) {
            break;
        }
        if (part < 0) {
            if (errno != EINTR) {
                reason = std::strerror(errno);
            }
            continue;
        }
        content.append(buffer.data(), static_cast<std::size_t>(part));
        if (content.size() > largest) {
            reason = "over " + std::to_string(largest) + " bytes";
        }
    }
    ::close(descriptor);
    return reason;
}

std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// One KEY=VALUE line of a configuration file; the reason it is refused, or an empty one.
std::string take_config_line(Settings &settings, std::string_view line, std::string &keys_seen)
{
    const std::size_t equals = line.find('=');
    if (equals == line.npos) {
        return "not KEY=VALUE";
    }
    const std::string key(line.substr(0, equals));
    const std::string_view value = unquoted(line.substr(equals + 1));
    if (value.size() > largest_value) {
        return "value of " + key + " over 4 KiB";
    }
    if (keys_seen.find(" " + key + " ") != std::string::npos) {
        return "duplicate key " + key;
    }
    keys_seen += key + " ";
    if (key == "URL") {
        settings.url = value;
    } else if (key == "CSV") {
        settings.csv = value;
    } else if (key == "REQUEST") {
        settings.request = value;
    } else if (key == "SOAPACTION") {
        settings.soap_action = value;
    } else if (key == "TIMEOUT") {
        return set_timeout(settings, value);
    } else if (key == "MAXSIZE") {
        return set_max_size(settings, value);
    } else {
        return "unknown key " + key;
    }
    return {};
}

// Lines end in LF or CRLF; the file may open with a UTF-8 byte order mark; empty lines and
// those that begin with # are passed over. Nothing in it is run.
bool read_config(const std::string &config, Settings &settings)
{
    std::string text;
    const std::string reason = read_regular_file(config, largest_config, text);
    if (!reason.empty()) {
        say(config + ": " + reason);
        return false;
    }
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF")) {
        rest.remove_prefix(3);
    }
    std::string keys_seen = " ";
    int number = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
        ++number;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (const std::string refused = take_config_line(settings, line, keys_seen);
            !refused.empty()) {
            say_of_line(config, number, refused);
            return false;
        }
    }
    for (const auto &[value, key] : {std::pair{&settings.url, "URL"}, {&settings.csv, "CSV"}}) {
        if (value->empty()) {
            say_of_line(config, number, std::string("no ") + key);
            return false;
        }
    }
    return true;
}

// The settings of the command line; an exit status when the run ends here.
std::optional<int> read_arguments(int argc, char **argv, Settings &settings)
{
    std::string config;
    // Options stop at the first operand, so a URL or CSV that begins with "-" follows "--".
    for (int option; (option = ::getopt(argc, argv, "+a:c:r:t:m:")) != -1;) {
        std::string refused;
        switch (option) {
        case 'a':
            settings.soap_action = optarg;
            break;
        case 'c':
            config = optarg;
            break;
        case 'r':
            settings.request = optarg;
            break;
        case 't':
            refused = set_timeout(settings, optarg);
            break;
        case 'm':
            refused = set_max_size(settings, optarg);
            break;
        default:
            return usage();
        }
        if (!refused.empty()) {
            say("-" + std::string(1, static_cast<char>(option)) + ": " + refused);
            return usage_status;
        }
    }
    const int operands = argc - optind;
    if (!config.empty()) {
        if (operands != 0) {
            return usage();
        }
        return read_config(config, settings) ? std::nullopt : std::optional<int>(usage_status);
    }
    // A REQUEST after CSV is taken as -r REQUEST, as earlier versions took it.
    if (operands < 2 || operands > 3) {
        return usage();
    }
    settings.url = argv[optind];
    settings.csv = argv[optind + 1];
    if (operands == 3) {
        settings.request = argv[optind + 2];
    }
    if (settings.csv.empty()) {
        return usage();
    }
    return std::nullopt;
}

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

using UrlPtr = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// The URL as a message may show it: without the user and password it may carry. Empty when it is
// not an http or https URL.
std::string shown_url(const std::string &url)
{
    const UrlPtr parsed(curl_url(), &curl_url_cleanup);
    char *scheme = nullptr;
    if (!parsed || has_control_character(url) ||
        curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return {};
    }
    const bool web = std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
    curl_free(scheme);
    char *shown = nullptr;
    if (!web || curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_OPTIONS, nullptr, 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_URL, &shown, 0) != CURLUE_OK) {
        return {};
    }
    std::string text(shown);
    curl_free(shown);
    return text;
}

std::size_t take_reply(char *bytes, std::size_t size, std::size_t count, void *user_data)
{
    auto *reply = static_cast<Reply *>(user_data);
    const std::size_t length = size * count;
    if (length > reply->max_size - reply->body.size()) {
        reply->oversized = true;
        return 0;
    }
    try {
        reply->body.append(bytes, length);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return length;
}

using CurlPtr = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeadersPtr = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// The headers of the request: its type and its SOAPAction, and no Expect, so that a large
// request goes at once.
HeadersPtr request_headers(const std::string &soap_action)
{
    HeadersPtr headers(nullptr, &curl_slist_free_all);
    const std::string action_header = "SOAPAction: " + soap_action;
    for (const char *header :
         {"Content-Type: text/xml; charset=utf-8", action_header.c_str(), "Expect:"}) {
        curl_slist *longer = curl_slist_append(headers.get(), header);
        if (longer == nullptr) {
            return HeadersPtr(nullptr, &curl_slist_free_all);
        }
        static_cast<void>(headers.release());
        headers.reset(longer);
    }
    return headers;
}

// POSTs the request and receives the reply whole: the exit status of a run that ends here, or
// none, with the reply and its HTTP status.
std::optional<int> fetch(const Settings &settings, const std::string &request,
                         const std::string &shown, Reply &reply, long &http_status)
{
    const CurlPtr curl(curl_easy_init(), &curl_easy_cleanup);
    const HeadersPtr headers = request_headers(settings.soap_action);
    if (!curl || !headers) {
        say("fetching " + shown + " failed: out of memory");
        return fetch_status;
    }
    std::array<char, CURL_ERROR_SIZE> error{};
    CURL *handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, settings.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error.data());
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT,
                     std::min(connect_timeout_seconds, settings.timeout_seconds));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, settings.timeout_seconds);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, take_reply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
    const CURLcode result = curl_easy_perform(handle);
    if (reply.oversized) {
        say("reply from " + shown + " refused: over " + std::to_string(settings.max_size) +
            " bytes");
        return refused_status;
    }
    if (result != CURLE_OK) {
        say("fetching " + shown +
            " failed: " + (error[0] != '\0' ? error.data() : curl_easy_strerror(result)));
        return fetch_status;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &http_status);
    return std::nullopt;
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

int log_board(const Settings &settings)
{
    const std::string shown = shown_url(settings.url);
    if (shown.empty()) {
        say("URL is not an http or https URL");
        return usage_status;
    }
    if (has_control_character(settings.soap_action)) {
        say("SOAPACTION holds a control character");
        return usage_status;
    }
    std::string request;
    if (const std::string reason = read_regular_file(settings.request, largest_max_size, request);
        !reason.empty()) {
        say("request " + settings.request + ": " + reason);
        return usage_status;
    }
    Reply reply{.body = {}, .max_size = settings.max_size};
    long http_status = 0;
    if (const std::optional<int> ended = fetch(settings, request, shown, reply, http_status)) {
        return *ended;
    }
    // A SOAP service answers a failure with HTTP 500 and a Fault; any other status than these
    // two is no reply of the service's to read.
    if (http_status == 500 && read_fault_in_memory(reply.body, shown.c_str()) == Outcome::fault) {
        return refused_status;
    }
    if (http_status != 200) {
        say("reply from " + shown + " refused: HTTP " + std::to_string(http_status));
        return refused_status;
    }
    return status_of(read_reply_in_memory(reply.body, shown.c_str(), settings.csv.c_str()));
}

} // namespace

int main(int argc, char **argv)
{
    prepare_process();
    // A console reader that goes away early must not cost the log its record.
    std::signal(SIGPIPE, SIG_IGN);
    escape_standard_error();
    Settings settings;
    if (const std::optional<int> ended = read_arguments(argc, argv, settings)) {
        return *ended;
    }
    if (settings.request.empty()) {
        settings.request = default_request();
    }
    if (settings.soap_action.empty()) {
        settings.soap_action = default_soap_action;
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        say("the fetch could not be set up");
        return fetch_status;
    }
    const int status = log_board(settings);
    curl_global_cleanup();
    return status;
}
