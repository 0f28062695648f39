// The settings of a run: its command line, and the configuration file that -c names. The file is
// read first; every option of the command line is then taken over it, wherever it stands, so a
// command-line option wins over the same key of the file.
#include "logger.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace logger {

namespace {

// What a run may be asked to take: far beyond any board, still within what a parse can be handed.
constexpr std::size_t largest_max_size = std::size_t{1} << 30;
constexpr long largest_timeout_seconds = 86400;
constexpr std::size_t largest_value = 4096;
constexpr std::size_t largest_config = std::size_t{1} << 20;

int usage()
{
    std::fprintf(
        stderr,
        "usage: %s [-a SOAPACTION] [-l LAYOUT] [-r REQUEST] [-t SECONDS] [-m BYTES] URL CSV\n"
        "       %s [-a SOAPACTION] [-l LAYOUT] [-r REQUEST] [-t SECONDS] [-m BYTES] -c CONFIG\n",
        program, program);
    return usage_status;
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

std::string set_layout(Settings &settings, std::string_view text)
{
    if (text == "auto") {
        settings.layout = Layout::of_the_reply;
    } else if (text == "indented") {
        settings.layout = Layout::indented;
    } else if (text == "compact") {
        settings.layout = Layout::compact;
    } else {
        return "not a layout (auto, indented or compact): " + std::string(text);
    }
    return {};
}

// Sets the setting that a key names; gives the reason it is refused, or an empty one.
std::string set_value(Settings &settings, const std::string &key, std::string_view value)
{
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
    } else if (key == "LAYOUT") {
        return set_layout(settings, value);
    } else {
        return "unknown key " + key;
    }
    return {};
}

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == text.npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A value stands as it is, or in single or double quotes that are taken away; the blanks
// around it are not part of it.
std::string_view unquoted(std::string_view value)
{
    value = trimmed(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// One KEY=VALUE line of a configuration file; the reason it is refused, or an empty one.
std::string take_config_line(Settings &settings, std::string_view line, int number)
{
    if (line.find('\0') != line.npos) {
        return "holds a NUL byte";
    }
    const std::size_t equals = line.find('=');
    if (equals == line.npos) {
        return "not KEY=VALUE";
    }
    const std::string key(trimmed(line.substr(0, equals)));
    const std::string_view value = unquoted(line.substr(equals + 1));
    if (value.size() > largest_value) {
        return "value of " + key + " over 4 KiB";
    }
    if (settings.config_lines.contains(key)) {
        return "duplicate key " + key;
    }
    if (std::string refused = set_value(settings, key, value); !refused.empty()) {
        return refused;
    }
    settings.config_lines[key] = number;
    return {};
}

// Lines end in LF or CRLF; the file may open with a UTF-8 byte order mark; empty lines and
// those that begin with # are passed over. Nothing in it is run.
bool read_config(Settings &settings)
{
    std::string text;
    const std::string reason = read_regular_file(settings.config, largest_config, text);
    if (!reason.empty()) {
        say(settings.config + ": " + reason);
        return false;
    }
    std::string_view rest(text);
    if (rest.starts_with("\xEF\xBB\xBF")) {
        rest.remove_prefix(3);
    }
    for (int number = 1; !rest.empty(); ++number) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (trimmed(line).empty() || trimmed(line).front() == '#') {
            continue;
        }
        if (const std::string refused = take_config_line(settings, line, number);
            !refused.empty()) {
            say(settings.config + ":" + std::to_string(number) + ": " + refused);
            return false;
        }
    }
    for (const auto &[key, value] : {std::pair{"URL", &settings.url}, {"CSV", &settings.csv}}) {
        if (!settings.config_lines.contains(key)) {
            say(settings.config + ": no " + key);
            return false;
        }
        if (value->empty()) {
            say_of_setting(settings, key, std::string("empty ") + key);
            return false;
        }
    }
    return true;
}

// One option of the command line taken over the settings; the reason it is refused, or an
// empty one.
std::string take_option(Settings &settings, int option, const char *argument)
{
    static constexpr std::array<std::pair<int, const char *>, 5> keys{{{'a', "SOAPACTION"},
                                                                       {'l', "LAYOUT"},
                                                                       {'r', "REQUEST"},
                                                                       {'t', "TIMEOUT"},
                                                                       {'m', "MAXSIZE"}}};
    for (const auto &[letter, key] : keys) {
        if (letter == option) {
            settings.config_lines.erase(key);
            std::string refused = set_value(settings, key, argument);
            return refused.empty()
                       ? refused
                       : "-" + std::string(1, static_cast<char>(option)) + ": " + refused;
        }
    }
    return {};
}

} // namespace

std::optional<int> read_settings(int argc, char **argv, Settings &settings)
{
    std::vector<std::pair<int, const char *>> options;
    // Options stop at the first operand, so a URL or CSV that begins with "-" follows "--".
    for (int option; (option = ::getopt(argc, argv, "+a:c:l:r:t:m:")) != -1;) {
        if (option == '?') {
            return usage();
        }
        if (option != 'c') {
            options.emplace_back(option, optarg);
        } else if (!settings.config.empty()) {
            say("-c given twice: one configuration file a run");
            return usage_status;
        } else {
            settings.config = optarg;
        }
    }
    const int operands = argc - optind;
    if (!settings.config.empty()) {
        if (operands != 0) {
            return usage();
        }
        if (!read_config(settings)) {
            return usage_status;
        }
    } else {
        // A REQUEST after CSV is taken as -r REQUEST, as earlier versions took it.
        if (operands < 2 || operands > 3 || argv[optind + 1][0] == '\0') {
            return usage();
        }
        settings.url = argv[optind];
        settings.csv = argv[optind + 1];
        if (operands == 3) {
            settings.request = argv[optind + 2];
        }
    }
    for (const auto &[option, argument] : options) {
        if (const std::string refused = take_option(settings, option, argument); !refused.empty()) {
            say(refused);
            return usage_status;
        }
    }
    return std::nullopt;
}

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

} // namespace logger
