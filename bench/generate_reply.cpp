// Writes a deterministic service reply of a given size, and what the tools must report on it.
//
//   generate_reply --layout indented|compact --megabytes M --arriving FRACTION --seed S
//                  --output REPLY [--expect STDOUT] [--expect-csv CSV]
//
// An indented reply is meant for quaywatch, which reports every arriving mission; a compact one
// for quaywatch_per_station, which reports the first one and appends it as a CSV record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char *const station_names[] = {"Brambleford Central",
                                     "Tolliver Street",
                                     "Marrowgate",
                                     "Orrin Vale",
                                     "Wexcombe Cross",
                                     "Pellham",
                                     "Stoke Ambry",
                                     "Ashwhistle",
                                     "Fennick",
                                     "Quillon",
                                     "Hollinfold",
                                     "Kellmoor"};
const char *const messages[] = {"Train parti", "Retard 5 min", "A l'approche", "Supprime"};

// A small generator with a fixed sequence on every platform.
std::uint64_t next_random(std::uint64_t &state)
{
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
}

std::string option(int argc, char **argv, const char *name, const char *fallback)
{
    for (int index = 1; index + 1 < argc; ++index) {
        if (std::strcmp(argv[index], name) == 0) {
            return argv[index + 1];
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const bool indented = option(argc, argv, "--layout", "indented") == "indented";
    const double target_bytes = std::atof(option(argc, argv, "--megabytes", "1").c_str()) * 1e6;
    const double arriving = std::atof(option(argc, argv, "--arriving", "0.25").c_str());
    std::uint64_t state = std::strtoull(option(argc, argv, "--seed", "1").c_str(), nullptr, 10);
    const std::string output = option(argc, argv, "--output", "");
    const std::string expect = option(argc, argv, "--expect", "");
    const std::string expect_csv = option(argc, argv, "--expect-csv", "");
    if (output.empty()) {
        std::fprintf(stderr, "generate_reply: --output is required\n");
        return 2;
    }

    const std::string nl = indented ? "\n" : "";
    const auto pad = [indented](int depth) { return indented ? std::string(2 * depth, ' ') : ""; };
    std::string reply = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    reply += "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">" + nl;
    reply += pad(1) + "<soap:Body>" + nl + pad(2) + "<boardReply xmlns=\"urn:example:board\">" +
             nl + pad(3) + "<missionList>" + nl;
    const std::string closing = pad(3) + "</missionList>" + nl + pad(2) + "</boardReply>" + nl +
                                pad(1) + "</soap:Body>" + nl + "</soap:Envelope>\n";

    std::string report;
    std::string first_report;
    std::string first_csv;
    for (long mission = 0; reply.size() + closing.size() < target_bytes; ++mission) {
        const bool arrives = static_cast<double>(next_random(state) % 10000) < arriving * 10000;
        const std::string message =
            arrives ? "Train \xC3\xA0 quai" : messages[next_random(state) % 4];
        std::vector<std::string> dates;
        for (std::uint64_t count = 1 + next_random(state) % 3; count > 0; --count) {
            const std::uint64_t minute = (mission * 3 + dates.size() * 7) % 1440;
            char date[32];
            std::snprintf(date, sizeof date, "2026-12-08T%02u:%02u:00",
                          static_cast<unsigned>(minute / 60), static_cast<unsigned>(minute % 60));
            dates.emplace_back(date);
        }
        std::vector<std::string> stations;
        for (std::uint64_t count = 3 + next_random(state) % 6; count > 0; --count) {
            stations.emplace_back(station_names[next_random(state) % 12]);
        }
        const std::string direction = stations.back();
        const std::string sens = next_random(state) % 2 ? "A" : "R";

        std::string entry = pad(4) + "<missions>" + nl;
        entry += pad(5) + "<code>M" + std::to_string(mission) + "</code>" + nl;
        entry += pad(5) + "<stationsMessages>" + message + "</stationsMessages>" + nl;
        entry += pad(5) + "<stations>" + nl;
        for (const std::string &station : stations) {
            entry += pad(6) + "<name>" + station + "</name>" + nl;
        }
        entry += pad(5) + "</stations>" + nl;
        for (const std::string &date : dates) {
            entry += pad(5) + "<stationsDates>" + date + "</stationsDates>" + nl;
        }
        entry += pad(5) + "<direction>" + nl + pad(6) + "<name>" + direction + "</name>" + nl +
                 pad(6) + "<sens>" + sens + "</sens>" + nl + pad(5) + "</direction>" + nl;
        entry += pad(5) + "<line>Line " + std::string(1, "ABCDE"[mission % 5]) + "</line>" + nl;
        entry += pad(4) + "</missions>" + nl;
        reply += entry;

        if (!arrives) {
            continue;
        }
        for (const std::string &date : dates) {
            report += "stationsDates: " + date + "\n";
        }
        report += "direction->name: " + direction + "\ndirection->sens: " + sens + "\n";
        if (first_report.empty()) {
            for (const std::string &station : stations) {
                first_report += "station: " + station + "\n";
                first_csv += "\n," + station;
            }
            for (const std::string &date : dates) {
                first_report += "stationsDates: " + date + "\n";
                first_csv += "," + date;
            }
            first_report += "direction->name: " + direction + "\ndirection->sens: " + sens + "\n";
            first_csv += "," + direction + "," + sens;
        }
    }
    reply += closing;

    std::ofstream(output, std::ios::binary) << reply;
    if (!expect.empty()) {
        std::ofstream(expect, std::ios::binary) << (indented ? report : first_report);
    }
    if (!expect_csv.empty()) {
        std::ofstream(expect_csv, std::ios::binary) << first_csv;
    }
    return 0;
}
