// Messages on standard error. A message may carry what a service or a caller controls (a fault's
// words, a file name, a URL), which may hold anything: it is built whole, then escaped by
// character and written at once, so that it is always one line and never sends a terminal or a
// journal a control.
#include "mission.h"

#include <cerrno>
#include <unistd.h>

namespace {

void append_escape(std::string &escaped, unsigned char byte)
{
    constexpr std::string_view digits = "0123456789abcdef";
    escaped += "\\x";
    escaped += digits[byte >> 4];
    escaped += digits[byte & 0x0f];
}

// The length of the UTF-8 sequence that opens `text` when it is a valid one (shortest form, no
// surrogate, at most U+10FFFF), or 0.
std::size_t utf8_length(std::string_view text)
{
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t index = 2; index < length; ++index) {
        if (byte(index) < 0x80 || byte(index) > 0xbf) {
            return 0;
        }
    }
    return length;
}

bool is_c1_control(std::string_view sequence)
{
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xc2 &&
           static_cast<unsigned char>(sequence[1]) <= 0x9f;
}

} // namespace

int write_whole(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

std::string escaped_text(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        std::size_t length = 1;
        // Only a backslash that could be read as the start of an escape is escaped itself.
        if (byte < 0x20 || byte == 0x7f || (byte == '\\' && text.substr(1, 1) == "x")) {
            append_escape(escaped, byte);
        } else if (byte < 0x80) {
            escaped += static_cast<char>(byte);
        } else if (length = utf8_length(text); length == 0) {
            length = 1;
            append_escape(escaped, byte);
        } else if (is_c1_control(text.substr(0, length))) {
            append_escape(escaped, byte);
            append_escape(escaped, static_cast<unsigned char>(text[1]));
        } else {
            escaped += text.substr(0, length);
        }
        text.remove_prefix(length);
    }
    return escaped;
}

std::string escaped_message(std::string_view message)
{
    if (!message.ends_with('\n')) {
        return escaped_text(message);
    }
    std::string escaped = escaped_text(message.substr(0, message.size() - 1));
    escaped += '\n';
    return escaped;
}

void write_diagnostic(std::string_view message)
{
    write_whole(STDERR_FILENO, escaped_message(message));
}

void write_escaped_line(std::string_view escaped_line)
{
    write_whole(STDERR_FILENO, escaped_line);
}
