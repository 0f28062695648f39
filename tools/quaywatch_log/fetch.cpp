// The fetch of a reply: the request POSTed with libcurl, and the reply read as it comes in, each
// piece handed to the streaming reading, bounded once decoded. The HTTP status is known before
// the first byte of the body: a board is read with 200, a fault alone with 500, and any other
// status ends the fetch. Each way the fetch can fail is told by what happened.
#include "logger.h"

#include <curl/curl.h>
#include <libxml/parser.h>

#include <array>
#include <cstring>

namespace logger {

namespace {

constexpr long connect_timeout_seconds = 10;
// As much as libcurl takes in one header line: a longer one it refuses by itself.
constexpr std::size_t largest_headers = std::size_t{100} << 10;
constexpr const char *soap_1_2_envelope = "http://www.w3.org/2003/05/soap-envelope";

using CurlPtr = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeadersPtr = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// What the fetch has taken in so far, and why it stopped taking more.
struct Receiving {
    CURL *handle;
    const Settings &settings;
    const Url &url;
    Fetched &fetched;
    ReplyStreamPtr stream{nullptr, &end_reply_stream};
    std::size_t body_bytes = 0;
    std::size_t header_bytes = 0;
    bool status_refused = false;
    bool oversized = false;
    bool headers_oversized = false;
    bool out_of_memory = false;
};

// The reading that the reply's HTTP status calls for: a board's, a fault's, or none.
bool start_reading(Receiving &receiving)
{
    long status = 0;
    curl_easy_getinfo(receiving.handle, CURLINFO_RESPONSE_CODE, &status);
    receiving.fetched.http_status = status;
    if (status != 200 && status != 500) {
        receiving.status_refused = true;
        return false;
    }
    receiving.stream = start_reply_stream(receiving.url.shown.c_str(), receiving.settings.layout,
                                          Wanted::first_arrival_with_stations,
                                          status == 200 ? Sought::board : Sought::fault);
    return true;
}

std::size_t take_reply(char *bytes, std::size_t size, std::size_t count, void *user_data)
{
    auto &receiving = *static_cast<Receiving *>(user_data);
    const std::size_t length = size * count;
    // No exception may cross the library's frames.
    try {
        if (!receiving.stream && !start_reading(receiving)) {
            return 0;
        }
    } catch (const std::bad_alloc &) {
        receiving.out_of_memory = true;
        return 0;
    }
    if (length > receiving.settings.max_size - receiving.body_bytes) {
        receiving.oversized = true;
        return 0;
    }
    receiving.body_bytes += length;
    feed_reply_stream(*receiving.stream, std::string_view(bytes, length));
    return length;
}

std::size_t take_header(char * /*bytes*/, std::size_t size, std::size_t count, void *user_data)
{
    auto &receiving = *static_cast<Receiving *>(user_data);
    receiving.header_bytes += size * count;
    if (receiving.header_bytes > largest_headers) {
        receiving.headers_oversized = true;
        return 0;
    }
    return size * count;
}

// True when the request is a SOAP 1.2 envelope, which goes with a type of its own.
bool is_soap_1_2(const std::string &request)
{
    const DocumentPtr document(
        xmlReadMemory(request.data(), static_cast<int>(request.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    const xmlNode *root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    return root != nullptr && root->ns != nullptr && root->ns->href != nullptr &&
           std::strcmp(reinterpret_cast<const char *>(root->ns->href), soap_1_2_envelope) == 0;
}

// The action as the type parameter of a SOAP 1.2 request carries it: without the quotes it is
// given in, in a quoted string of its own.
std::string action_parameter(std::string_view action)
{
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"') {
        action = action.substr(1, action.size() - 2);
    }
    std::string quoted = "\"";
    for (const char character : action) {
        if (character == '"' || character == '\\') {
            quoted += '\\';
        }
        quoted += character;
    }
    return quoted + '"';
}

// The headers of the request: its type and its action, and no Expect, so that a large request
// goes at once. SOAP 1.1 names the action in a SOAPAction header; SOAP 1.2 in its type.
HeadersPtr request_headers(const std::string &soap_action, bool soap_1_2)
{
    HeadersPtr headers(nullptr, &curl_slist_free_all);
    const std::string type = soap_1_2
                                 ? "Content-Type: application/soap+xml; charset=utf-8; action=" +
                                       action_parameter(soap_action)
                                 : std::string("Content-Type: text/xml; charset=utf-8");
    const std::string action = "SOAPAction: " + soap_action;
    for (const char *header : {type.c_str(), soap_1_2 ? nullptr : action.c_str(), "Expect:"}) {
        if (header == nullptr) {
            continue;
        }
        curl_slist *longer = curl_slist_append(headers.get(), header);
        if (longer == nullptr) {
            return HeadersPtr(nullptr, &curl_slist_free_all);
        }
        static_cast<void>(headers.release());
        headers.reset(longer);
    }
    return headers;
}

void set_options(CURL *handle, const std::string &request, const curl_slist *headers,
                 Receiving &receiving)
{
    const Settings &settings = receiving.settings;
    curl_easy_setopt(handle, CURLOPT_URL, receiving.url.fetched.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT,
                     std::min(connect_timeout_seconds, settings.timeout_seconds));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, settings.timeout_seconds);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, take_reply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiving);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &receiving);
}

// Says why the fetch ended short of a reply, and gives the status of that. libcurl names some
// of its ends by what they cost it rather than by what happened: a header line too long for it
// is "out of memory", data after the end of a compressed reply a failed write.
int say_fetch_failed(const Receiving &receiving, CURLcode result, const char *error)
{
    const std::string &shown = receiving.url.shown;
    const std::string failed = "fetching " + shown + " failed: ";
    if (receiving.status_refused) {
        say("reply from " + shown + " refused: HTTP " +
            std::to_string(receiving.fetched.http_status));
        return refused_status;
    }
    if (receiving.oversized) {
        say("reply from " + shown + " refused: over " +
            std::to_string(receiving.settings.max_size) + " bytes");
        return refused_status;
    }
    if (receiving.headers_oversized ||
        (result == CURLE_OUT_OF_MEMORY && !receiving.out_of_memory && !library_memory_failed())) {
        say("reply from " + shown + " refused: reply headers over " +
            std::to_string(largest_headers) + " bytes");
        return refused_status;
    }
    if (receiving.out_of_memory || result == CURLE_OUT_OF_MEMORY) {
        say(failed + "out of memory");
    } else if (result == CURLE_WRITE_ERROR) {
        say(failed + "reply not decoded: data after the end of its compressed stream");
    } else if (result == CURLE_BAD_CONTENT_ENCODING) {
        say(failed + "reply not decoded: " + (error[0] != '\0' ? error : "bad compressed data"));
    } else {
        say(failed + (error[0] != '\0' ? error : curl_easy_strerror(result)));
    }
    return fetch_status;
}

} // namespace

std::optional<int> fetch(const Settings &settings, const Url &url, const std::string &request,
                         Fetched &fetched)
{
    const CurlPtr curl(curl_easy_init(), &curl_easy_cleanup);
    const HeadersPtr headers = request_headers(settings.soap_action, is_soap_1_2(request));
    if (!curl || !headers) {
        say("fetching " + url.shown + " failed: out of memory");
        return fetch_status;
    }
    std::array<char, CURL_ERROR_SIZE> error{};
    Receiving receiving{.handle = curl.get(), .settings = settings, .url = url, .fetched = fetched};
    set_options(curl.get(), request, headers.get(), receiving);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error.data());
    const CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK || receiving.status_refused || receiving.oversized ||
        receiving.headers_oversized || receiving.out_of_memory) {
        return say_fetch_failed(receiving, result, error.data());
    }
    // A reply without a body has its status known only now.
    if (!receiving.stream && !start_reading(receiving)) {
        return say_fetch_failed(receiving, result, error.data());
    }
    fetched.found = finish_reply_stream(*receiving.stream);
    return std::nullopt;
}

} // namespace logger
