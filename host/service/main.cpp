// panelhost: runs a panel plugin against simulated studio devices with
// persistent name databases, and serves its panels over HTTP.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AccountCommands.h"
#include "HostApplication.h"
#include "NameSeed.h"
#include "NameSetFiles.h"
#include "PasswordPrompt.h"

namespace {

using panelhost::AccountCommands;
using panelhost::AccountStore;
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
// A session may stay idle for up to a week; longer is rather "never".
constexpr int kLongestSessionIdleMinutes = 7 * 24 * 60;
// --router names the protocol first, so other kinds of router can follow.
constexpr std::string_view kEmberPrefix = "ember:";
const std::vector<std::string> kRoles = {"viewer", "operator", "engineer", "admin"};

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

// The accounts of the data folder, for the account commands. They do not
// need the data folder to themselves, so they also work while a panelhost
// runs on it. A data file that does not exist yet is made first, with the
// names a host's first start would seed.
std::unique_ptr<AccountStore> openAccounts(const HostOptions& options) {
    try {
        const std::filesystem::path file = options.dataFile();
        std::error_code ignored;
        if (!std::filesystem::exists(file, ignored) ||
            std::filesystem::file_size(file, ignored) == 0) {
            const panelhost::NameStore created(file,
                                               panelhost::NameSeed::forCatalog(options.catalog()));
        }
        return std::make_unique<AccountStore>(file, options.sessionIdle);
    } catch (const std::exception& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return nullptr;
    }
}

AccountCommands::PasswordSource passwordFor(const std::string& name, bool confirm) {
    return [name, confirm] {
        return panelhost::PasswordPrompt::read("Password for " + name + ": ", confirm);
    };
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
    app.add_option("--allow-host", options.allowHosts,
                   "a further name clients address this host by, NAME or NAME:PORT (repeatable); "
                   "other names in a request's Host are refused")
        ->type_name("NAME");
    int sessionIdleMinutes = static_cast<int>(
        std::chrono::duration_cast<std::chrono::minutes>(options.sessionIdle).count());
    app.add_option("--session-idle", sessionIdleMinutes,
                   "minutes a login session may stay unused before it ends")
        ->check(CLI::Range(1, kLongestSessionIdleMinutes))
        ->capture_default_str();
    app.add_option("--panels", options.panels, "panel instances to create")
        ->check(CLI::Range(1, kMostPanels))
        ->capture_default_str();
    app.add_flag("--verbose", options.verbose,
                 "print every command, answer, notification and event on the console");
    app.add_flag("!--no-capture", options.captureStderr,
                 "leave standard error alone (the plugin's debug lines then miss the log)");

    std::string router;
    app.add_option("--router", router,
                   "back the router device with a real router: ember:HOST:PORT[,matrix=PATH] "
                   "follows an Ember+ matrix (its source labels become database 0, its target "
                   "labels database 2, its crosspoints what ,follow=router displays show); "
                   "simulated when not given")
        ->type_name("ember:HOST:PORT");

    std::vector<std::string> displayTargets;
    int refreshSeconds = kDefaultRefreshSeconds;
    int screen = 0;
    app.add_option(
        "--tsl", displayTargets,
        "drive under-monitor displays with TSL UMD 5.0 (udp:HOST:PORT, tcp:HOST:PORT) or "
        "3.1 (udp31:HOST:PORT, serial:DEVICE, 38400 8E1 unless ,baud=N ,parity=P "
        ",stop=N say otherwise); ,sources=FIRST-LAST and ,offset=N choose what a "
        "target shows where; ,follow=router makes display N show the source routed to router "
        "destination N (repeatable; off when not given)");
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

    std::string name;
    std::string role;
    CLI::App* user = app.add_subcommand("user", "manage the accounts (also while panelhost runs)");
    CLI::App* userAdd = user->add_subcommand(
        "add",
        "add an account; the password is read from the terminal without echo, or as one line of "
        "standard input when that is not a terminal");
    userAdd->add_option("name", name, "account name (letters, digits, '.', '_', '-')")->required();
    userAdd->add_option("--role", role, "viewer, operator, engineer or admin")
        ->required()
        ->check(CLI::IsMember(kRoles));
    CLI::App* userRemove = user->add_subcommand("remove", "remove an account and end its sessions");
    userRemove->add_option("name", name, "account name")->required();
    CLI::App* userPasswd = user->add_subcommand(
        "passwd", "set an account's password (read as for add) and end its sessions");
    userPasswd->add_option("name", name, "account name")->required();
    CLI::App* userList = user->add_subcommand("list", "list the accounts (never their passwords)");
    user->require_subcommand(1);

    CLI::App* token = app.add_subcommand(
        "token", "manage the API tokens of scripts and monitoring (also while panelhost runs)");
    CLI::App* tokenCreate = token->add_subcommand(
        "create", "create a token and print it on standard output; it is shown only this once");
    tokenCreate->add_option("--role", role, "viewer, operator, engineer or admin")
        ->required()
        ->check(CLI::IsMember(kRoles));
    tokenCreate->add_option("--name", name,
                            "a name to list and revoke it by (default: ROLE-XXXXXXXX)");
    CLI::App* tokenRevoke = token->add_subcommand("revoke", "revoke a token at once");
    tokenRevoke->add_option("name", name, "token name")->required();
    CLI::App* tokenList = token->add_subcommand("list", "list the tokens (never the tokens)");
    token->require_subcommand(1);

    // The host's options (--data, --devices) also apply after a subcommand.
    for (CLI::App* command : {exportSet, importSet, user, userAdd, userRemove, userPasswd, userList,
                              token, tokenCreate, tokenRevoke, tokenList}) {
        command->fallthrough();
        command->footer("The host's --data DIR and --devices FILE apply here too.");
    }
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
    if (!router.empty()) {
        ember::EmberEndpoint endpoint;
        std::string error;
        if (router.rfind(kEmberPrefix, 0) != 0) {
            std::cerr << "panelhost: --router: \"" << router
                      << "\" names no known router protocol (expected ember:HOST:PORT"
                         "[,matrix=PATH])"
                      << std::endl;
            return StartupError::kConfiguration;
        }
        if (!ember::EmberEndpoint::parse(router.substr(kEmberPrefix.size()), endpoint, error)) {
            std::cerr << "panelhost: --router: " << error << std::endl;
            return StartupError::kConfiguration;
        }
        options.router = endpoint;
    }
    options.displays.screen = static_cast<std::uint16_t>(screen);
    options.displays.refreshPeriod = std::chrono::seconds(refreshSeconds);
    options.sessionIdle = std::chrono::minutes(sessionIdleMinutes);

    if (user->parsed() || token->parsed()) {
        const std::unique_ptr<AccountStore> accounts = openAccounts(options);
        if (!accounts) {
            return StartupError::kDataFile;
        }
        if (userAdd->parsed()) {
            return AccountCommands::addUser(*accounts, name, role, passwordFor(name, true),
                                            std::cout, std::cerr);
        }
        if (userRemove->parsed()) {
            return AccountCommands::removeUser(*accounts, name, std::cout, std::cerr);
        }
        if (userPasswd->parsed()) {
            return AccountCommands::setPassword(*accounts, name, passwordFor(name, true), std::cout,
                                                std::cerr);
        }
        if (userList->parsed()) {
            return AccountCommands::listUsers(*accounts, std::cout, std::cerr);
        }
        if (tokenCreate->parsed()) {
            return AccountCommands::createToken(*accounts, role, name, std::cout, std::cerr);
        }
        if (tokenRevoke->parsed()) {
            return AccountCommands::revokeToken(*accounts, name, std::cout, std::cerr);
        }
        return AccountCommands::listTokens(*accounts, std::cout, std::cerr);
    }

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
