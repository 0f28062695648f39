// The URL of a board service: refused unless it is an http or https URL, its host looked up in
// its IDNA form, and shown in messages without what may be secret in it.
#include "logger.h"

#include <curl/curl.h>
#include <idn2.h>

namespace logger {

namespace {

using UrlPtr = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

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

} // namespace logger
