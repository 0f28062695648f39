// The escaping of messages against its promise, for any bytes: an escaped text is one line of
// valid UTF-8 with no control in it (C0, DEL or C1), and the text it came from can be read back
// from its escapes; a message keeps the line feed that ends it and gains no other.
#include "mission.h"

#include <cstdint>
#include <cstdlib>

namespace {

int hex_digit(char digit)
{
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

// Each \xNN back to its byte; everything else stands for itself.
std::string unescaped(std::string_view escaped)
{
    std::string text;
    for (std::size_t index = 0; index < escaped.size(); ++index) {
        if (escaped.substr(index, 2) == "\\x" && index + 3 < escaped.size() &&
            hex_digit(escaped[index + 2]) >= 0 && hex_digit(escaped[index + 3]) >= 0) {
            text += static_cast<char>(hex_digit(escaped[index + 2]) * 16 +
                                      hex_digit(escaped[index + 3]));
            index += 3;
        } else {
            text += escaped[index];
        }
    }
    return text;
}

// True when every byte is printable ASCII or part of a UTF-8 sequence of a character that is no
// C1 control; the sequences themselves are checked by the round trip through a decoder of its own.
bool printable(std::string_view escaped)
{
    for (std::size_t index = 0; index < escaped.size(); ++index) {
        const auto byte = static_cast<unsigned char>(escaped[index]);
        if (byte < 0x20 || byte == 0x7f) {
            return false;
        }
        if (byte == 0xc2 && index + 1 < escaped.size() &&
            static_cast<unsigned char>(escaped[index + 1]) <= 0x9f) {
            return false;
        }
    }
    return true;
}

// A strict UTF-8 check: shortest forms, no surrogates, nothing past U+10FFFF.
bool valid_utf8(std::string_view text)
{
    std::size_t index = 0;
    while (index < text.size()) {
        const auto lead = static_cast<unsigned char>(text[index]);
        std::size_t length = lead < 0x80   ? 1
                             : lead < 0xc2 ? 0
                             : lead < 0xe0 ? 2
                             : lead < 0xf0 ? 3
                             : lead < 0xf5 ? 4
                                           : 0;
        if (length == 0 || index + length > text.size()) {
            return false;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
        for (std::size_t next = 1; next < length; ++next) {
            const auto byte = static_cast<unsigned char>(text[index + next]);
            if ((byte & 0xc0) != 0x80) {
                return false;
            }
            code = (code << 6) | (byte & 0x3f);
        }
        constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        index += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string escaped = escaped_text(text);
    if (!printable(escaped) || !valid_utf8(escaped) || unescaped(escaped) != text) {
        std::abort();
    }
    const std::string message = escaped_message(text);
    const bool ends_line = text.ends_with('\n');
    const std::string_view line =
        ends_line ? std::string_view(message).substr(0, message.size() - 1) : message;
    if (message.ends_with('\n') != ends_line || !printable(line) ||
        unescaped(line) != (ends_line ? text.substr(0, size - 1) : text)) {
        std::abort();
    }
    return 0;
}
