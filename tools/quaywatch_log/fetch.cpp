// The fetch of a reply: the request POSTed with libcurl, the reply received whole into memory and
// bounded as it comes in, and each way the fetch can fail told by what happened.
#include "logger.h"

#include <curl/curl.h>
#include <idn2.h>

#include <array>
#include <cstring>

namespace logger {

namespace {

constexpr long connect_timeout_seconds = 10;
// As much as libcurl takes in one header line: a longer one it refuses by itself.
constexpr std::size_t largest_headers = std::size_t{100} << 10;

using UrlPtr = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;
using CurlPtr = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeadersPtr = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// What the fetch has taken in so far, and why it stopped taking more.
struct Receiving {
    Reply &reply;
    std::size_t max_size;
    std::size_t header_bytes = 0;
    bool oversized = false;
    bool headers_oversized = false;
    bool out_of_memory = false;
};

bool is_ascii(std::string_view text)
{
    for (const char character : text) {
        if (static_cast<unsigned char>(character) >= 0x80) {
            return false;
        }
    }
    return true;
}

// A part of a parsed URL, or an empty text where it has none.
std::string url_part(CURLU *url, CURLUPart part)
{
    char *text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) {
        return {};
    }
    std::string copy(text);
    curl_free(text);
    return copy;
}

// A host name of UTF-8 in its IDNA form, which the resolver looks up whatever the locale; the
// reason it has none otherwise.
std::string ascii_host(const std::string &host, std::string &ascii)
{
    char *converted = nullptr;
    int result = idn2_to_ascii_8z(host.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (result == IDN2_DISALLOWED) {
        result = idn2_to_ascii_8z(host.c_str(), &converted, IDN2_NFC_INPUT | IDN2_TRANSITIONAL);
    }
    if (result != IDN2_OK) {
        return std::string("URL host has no IDNA form: ") + idn2_strerror(result);
    }
    ascii = converted;
    idn2_free(converted);
    return {};
}

std::size_t take_reply(char *bytes, std::size_t size, std::size_t count, void *user_data)
{
    auto &receiving = *static_cast<Receiving *>(user_data);
    std::string &body = receiving.reply.body;
    const std::size_t length = size * count;
    if (length > receiving.max_size - body.size()) {
        receiving.oversized = true;
        return 0;
    }
    try {
        body.append(bytes, length);
    } catch (const std::bad_alloc &) {
        receiving.out_of_memory = true;
        return 0;
    }
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

void set_options(CURL *handle, const Settings &settings, const Url &url, const std::string &request,
                 const curl_slist *headers, Receiving &receiving)
{
    curl_easy_setopt(handle, CURLOPT_URL, url.fetched.c_str());
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
int say_fetch_failed(const Url &url, const Receiving &receiving, CURLcode result, const char *error)
{
    const std::string failed = "fetching " + url.shown + " failed: ";
    if (receiving.oversized) {
        say("reply from " + url.shown + " refused: over " + std::to_string(receiving.max_size) +
            " bytes");
        return refused_status;
    }
    if (receiving.headers_oversized ||
        (result == CURLE_OUT_OF_MEMORY && !receiving.out_of_memory && !library_memory_failed())) {
        say("reply from " + url.shown + " refused: reply headers over " +
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

std::string prepare_url(const std::string &url, Url &prepared)
{
    constexpr const char *refused = "URL is not an http or https URL";
    const UrlPtr parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || has_control_character(url) ||
        curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return refused;
    }
    const std::string scheme = url_part(parsed.get(), CURLUPART_SCHEME);
    const std::string host = url_part(parsed.get(), CURLUPART_HOST);
    if ((scheme != "http" && scheme != "https") || host.empty()) {
        return refused;
    }
    std::string port = url_part(parsed.get(), CURLUPART_PORT);
    prepared.shown = scheme + "://" + host + (port.empty() ? "" : ":" + port) +
                     url_part(parsed.get(), CURLUPART_PATH);
    if (!is_ascii(host)) {
        std::string ascii;
        if (std::string reason = ascii_host(host, ascii); !reason.empty()) {
            return reason;
        }
        if (curl_url_set(parsed.get(), CURLUPART_HOST, ascii.c_str(), 0) != CURLUE_OK) {
            return refused;
        }
    }
    prepared.fetched = url_part(parsed.get(), CURLUPART_URL);
    return prepared.fetched.empty() ? std::string(refused) : std::string();
}

std::optional<int> fetch(const Settings &settings, const Url &url, const std::string &request,
                         Reply &reply)
{
    const CurlPtr curl(curl_easy_init(), &curl_easy_cleanup);
    const HeadersPtr headers = request_headers(settings.soap_action);
    if (!curl || !headers) {
        say("fetching " + url.shown + " failed: out of memory");
        return fetch_status;
    }
    std::array<char, CURL_ERROR_SIZE> error{};
    Receiving receiving{.reply = reply, .max_size = settings.max_size};
    set_options(curl.get(), settings, url, request, headers.get(), receiving);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error.data());
    const CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK || receiving.oversized || receiving.headers_oversized ||
        receiving.out_of_memory) {
        return say_fetch_failed(url, receiving, result, error.data());
    }
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.http_status);
    return std::nullopt;
}

} // namespace logger
