#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "HostOptions.h"

namespace panelhost {

// The program's command line and where its parsed values go: the host's
// options, the configuration file, the display and router targets and the
// subcommands (export-set, import-set, user, token). Its options bind to its
// own members, so it stays where it was made. Used by one thread (the main
// thread).
struct ProgramOptions {
    // Receivers commonly expect the full state every few seconds.
    static constexpr int kDefaultRefreshSeconds = 5;

    ProgramOptions();
    ProgramOptions(const ProgramOptions&) = delete;
    ProgramOptions& operator=(const ProgramOptions&) = delete;

    // Whether console lines take the journal's form (--log-format), also
    // when parse() refused the command line.
    static bool journalWanted(const std::string& logFormat);

    // Parses the arguments and the configuration file; returns the exit code
    // when the program ends here (help, an error), nothing to go on.
    std::optional<int> parse(int argc, char** argv, std::ostream& errors);

    CLI::App app{
        "panelhost: runs a panel plugin against simulated studio devices (router, tally and names "
        "infodrivers) whose name databases persist in a data folder, and serves the panels, the "
        "devices and a log over HTTP."};
    HostOptions options;
    std::string configFile;
    bool printConfig = false;
    std::string logFormat = "auto";
    std::string router;
    std::vector<std::string> displayTargets;
    int refreshSeconds = kDefaultRefreshSeconds;
    int screen = 0;
    int sessionIdleMinutes = 0;

    std::string device = "StC_UMD_Names_DriverID";
    int set = 1;
    std::string apiToken;
    std::string file = "-";
    std::string name;
    std::string role;
    CLI::App* exportSet = nullptr;
    CLI::App* importSet = nullptr;
    CLI::App* user = nullptr;
    CLI::App* userAdd = nullptr;
    CLI::App* userRemove = nullptr;
    CLI::App* userPasswd = nullptr;
    CLI::App* userRole = nullptr;
    CLI::App* userList = nullptr;
    CLI::App* token = nullptr;
    CLI::App* tokenCreate = nullptr;
    CLI::App* tokenRevoke = nullptr;
    CLI::App* tokenList = nullptr;

  private:
    void addHostOptions();
    void addSubcommands();
};

}  // namespace panelhost
