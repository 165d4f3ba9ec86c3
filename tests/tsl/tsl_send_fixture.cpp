// Sends one wall of names, then optional single-name updates, through the
// real display output, waits until every target has them, and exits.
// Names come on standard input, one UTF-8 line per source (1 to 128);
// missing lines are empty names. Packet summaries and final transport
// states go to standard output, one line each.
#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "TslOutput.h"

namespace {

// Long enough by default for a TCP sender's first connect and back-off steps.
constexpr int kDefaultTimeoutMs = 10000;

struct Update {
    int source = 0;
    std::string name;
};

bool parseUpdate(const std::string& text, Update& update) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    try {
        std::size_t used = 0;
        update.source = std::stoi(text.substr(0, eq), &used);
        if (used != eq) {
            return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    update.name = text.substr(eq + 1);
    return update.source >= 1 && update.source <= tsl::kSourceCount;
}

tsl::TslOutput::Names readNames(std::istream& in) {
    tsl::TslOutput::Names names;
    for (std::string& name : names) {
        if (!std::getline(in, name)) {
            break;
        }
        if (!name.empty() && name.back() == '\r') {
            name.pop_back();
        }
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Sends a wall of display names (one per line on standard input) as TSL UMD 5.0 "
        "display messages and exits once every target has them."};
    std::vector<std::string> targetSpecs;
    std::vector<std::string> updateSpecs;
    tsl::TslOutputConfig config;
    int brightness = 0;
    int timeoutMs = kDefaultTimeoutMs;
    app.add_option("--target", targetSpecs, "udp:HOST:PORT or tcp:HOST:PORT (repeatable)")
        ->required();
    app.add_option("--offset", config.indexOffset, "display index of source 1")
        ->check(CLI::Range(0, tsl::TslOutput::kMaxIndexOffset));
    app.add_option("--screen", config.screen, "screen index");
    app.add_option("--brightness", brightness, "level 1 to 3; 0 means no report yet")
        ->check(CLI::Range(0, 3));
    app.add_option("--per-packet", config.maxMessagesPerPacket,
                   "most display messages per packet; 0 = as many as fit");
    app.add_flag("--udp-dle", config.udpDleStx, "DLE/STX framing on UDP too");
    app.add_option("--update", updateSpecs,
                   "SOURCE=NAME sent as a single message after the wall (repeatable)");
    app.add_option("--timeout-ms", timeoutMs, "how long to wait for every target to take all")
        ->check(CLI::NonNegativeNumber);
    CLI11_PARSE(app, argc, argv);

    for (const std::string& targetText : targetSpecs) {
        std::string error;
        const auto target = tsl::TslTarget::parse(targetText, error);
        if (!target) {
            std::cerr << error << "\n";
            return 2;
        }
        config.targets.push_back(*target);
    }
    std::vector<Update> updates;
    for (const std::string& targetText : updateSpecs) {
        Update update;
        if (!parseUpdate(targetText, update)) {
            std::cerr << "invalid update \"" << targetText
                      << "\": expected SOURCE=NAME, SOURCE 1 to " << tsl::kSourceCount << "\n";
            return 2;
        }
        updates.push_back(update);
    }

    const auto output = tsl::TslOutput::create(
        config, [](const std::string& line) { std::cout << line << "\n"; }, nullptr);
    output->setWall(readNames(std::cin), brightness);
    for (const Update& update : updates) {
        output->setName(update.source, update.name);
    }
    const bool flushed = output->flush(std::chrono::milliseconds(timeoutMs));
    for (const tsl::TslTransportStatus& status : output->transportStatus()) {
        std::cout << status.target << ": " << tsl::toString(status.state) << ", "
                  << status.packetsSent << " sent, " << status.packetsDropped << " dropped ("
                  << status.detail << ")\n";
    }
    return flushed ? 0 : 1;
}
