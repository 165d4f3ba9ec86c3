// panelhost: runs a panel plugin against simulated studio devices with
// persistent name databases, and serves its panels over HTTP.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "HostApplication.h"
#include "NameSetFiles.h"

namespace {

using panelhost::HostApplication;
using panelhost::HostOptions;
using panelhost::NameSetFiles;
using panelhost::StartupError;

// Most panel instances one host runs.
constexpr int kMostPanels = 16;
constexpr int kHighestPort = 65535;
// Screen 0xFFFF means "all screens" to a receiver.
constexpr int kHighestScreen = 0xFFFE;
// Receivers commonly expect the full state every few seconds.
constexpr int kDefaultRefreshSeconds = 5;
constexpr int kLongestRefreshSeconds = 3600;

// Runs the host until SIGINT or SIGTERM.
int serve(const HostOptions& options) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Blocked before any thread starts, so every thread inherits the block
    // and the signals wait for sigwait() below.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        HostApplication host(options);
        std::cout << "panelhost: serving on " << host.url() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        host.log().add(0, "info", std::string("stopping on ") + strsignal(received));
        host.shutdown();
    } catch (const StartupError& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return error.exitCode();
    }
    return 0;
}

std::optional<NameSetFiles::Target> target(const HostOptions& options, const std::string& device,
                                           int set) {
    try {
        return NameSetFiles::Target{options.dataFile(), options.catalog(), device, set};
    } catch (const std::exception& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return std::nullopt;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "panelhost: runs a panel plugin against simulated studio devices (router, tally and names "
        "infodrivers) whose name databases persist in a data folder, and serves the panels, the "
        "devices and a log over HTTP."};
    HostOptions options;
    options.plugin = TOVI_DEFAULT_PLUGIN;
    options.layouts = TOVI_DEFAULT_LAYOUTS;
    options.web = TOVI_DEFAULT_WEB;
    const std::string dataHelp =
        "data folder (default " + HostOptions::defaultDataFolder().string() + ")";
    app.add_option("--plugin", options.plugin, "panel plugin to load")->capture_default_str();
    app.add_option("--layouts", options.layouts, "folder of the layout files given to the plugin")
        ->capture_default_str();
    app.add_option("--data", options.data, dataHelp);
    app.add_option("--devices", options.devices,
                   "device configuration (JSON; default: devices.json in the data folder, written "
                   "with the defaults on first start)");
    app.add_option("--web", options.web, "folder of the browser front end")->capture_default_str();
    app.add_option("--bind", options.bind, "address to serve HTTP on")->capture_default_str();
    app.add_option("--port", options.port, "port to serve HTTP on (0: any free port)")
        ->check(CLI::Range(0, kHighestPort))
        ->capture_default_str();
    app.add_option("--panels", options.panels, "panel instances to create")
        ->check(CLI::Range(1, kMostPanels))
        ->capture_default_str();
    app.add_flag("--verbose", options.verbose,
                 "print every command, answer, notification and event on the console");
    app.add_flag("!--no-capture", options.captureStderr,
                 "leave standard error alone (the plugin's debug lines then miss the log)");

    std::vector<std::string> displayTargets;
    int refreshSeconds = kDefaultRefreshSeconds;
    int screen = 0;
    app.add_option(
        "--tsl", displayTargets,
        "drive under-monitor displays with TSL UMD 5.0 (udp:HOST:PORT, tcp:HOST:PORT) or "
        "3.1 (udp31:HOST:PORT, serial:DEVICE, 38400 8E1 unless ,baud=N ,parity=P "
        ",stop=N say otherwise); ,sources=FIRST-LAST and ,offset=N choose what a "
        "target shows where (repeatable; off when not given)");
    app.add_option("--tsl-offset", options.displays.indexOffset,
                   "display index of source 1, or of a target's first source, unless the target "
                   "gives its own offset (display index = source - first + offset)")
        ->check(CLI::Range(0, tsl::TslOutput::kMaxIndexOffset))
        ->capture_default_str();
    app.add_option("--tsl-screen", screen, "screen index the display messages address")
        ->check(CLI::Range(0, kHighestScreen))
        ->capture_default_str();
    app.add_option("--tsl-refresh", refreshSeconds,
                   "seconds between full refreshes of every display (0: only on changes)")
        ->check(CLI::Range(0, kLongestRefreshSeconds))
        ->capture_default_str();
    app.add_flag("--tsl-udp-framing", options.displays.udpDleStx,
                 "wrap UDP datagrams in DLE/STX framing too (some receivers want it)");

    std::string device = "StC_UMD_Names_DriverID";
    int set = 1;
    std::string file = "-";
    CLI::App* exportSet = app.add_subcommand("export-set", "write a name set as CSV (source,name)");
    exportSet->add_option("--set", set, "name set: the database number on the device")->required();
    exportSet->add_option("--device", device, "device that holds the set")->capture_default_str();
    exportSet->add_option("--output", file, "CSV file to write (-: standard output)")
        ->capture_default_str();
    CLI::App* importSet = app.add_subcommand(
        "import-set",
        "read a name set from CSV (source,name); nothing is written when a line is invalid");
    importSet->add_option("--set", set, "name set: the database number on the device")->required();
    importSet->add_option("--device", device, "device that holds the set")->capture_default_str();
    importSet->add_option("--input", file, "CSV file to read")->required();
    // The host's options (--data, --devices) also apply after a subcommand.
    exportSet->fallthrough();
    importSet->fallthrough();
    app.require_subcommand(0, 1);

    CLI11_PARSE(app, argc, argv);

    for (const std::string& targetText : displayTargets) {
        std::string error;
        const std::optional<tsl::TslTarget> parsed = tsl::TslTarget::parse(targetText, error);
        if (!parsed) {
            std::cerr << "panelhost: --tsl: " << error << std::endl;
            return StartupError::kConfiguration;
        }
        options.displays.targets.push_back(*parsed);
    }
    options.displays.screen = static_cast<std::uint16_t>(screen);
    options.displays.refreshPeriod = std::chrono::seconds(refreshSeconds);

    if (exportSet->parsed() || importSet->parsed()) {
        const auto where = target(options, device, set);
        if (!where) {
            return StartupError::kConfiguration;
        }
        return exportSet->parsed() ? NameSetFiles::exportSet(*where, file, std::cout, std::cerr)
                                   : NameSetFiles::importSet(*where, file, std::cout, std::cerr);
    }
    return serve(options);
}
