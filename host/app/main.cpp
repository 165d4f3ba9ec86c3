// panelhost: runs a panel plugin against simulated studio devices with
// persistent name databases, and serves its panels over HTTP.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "AccountCommands.h"
#include "ConfigFile.h"
#include "FileLock.h"
#include "HostApplication.h"
#include "NameSeed.h"
#include "NameSetClient.h"
#include "NameSetFiles.h"
#include "OpenAccountStore.h"
#include "OpenNameStore.h"
#include "PasswordPrompt.h"
#include "SqliteNameStore.h"
#include "SystemdService.h"

namespace {

using panelhost::AccountCommands;
using panelhost::AccountStore;
using panelhost::ConfigFile;
using panelhost::ConfigFileError;
using panelhost::HostApplication;
using panelhost::HostOptions;
using panelhost::NameSetClient;
using panelhost::NameSetFiles;
using panelhost::StartupError;
using panelhost::SystemdService;

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

std::optional<NameSetFiles::Target> target(const HostOptions& options, const std::string& device,
                                           int set) {
    try {
        return NameSetFiles::Target{options.dataFile(), options.catalog(), device, set,
                                    options.store};
    } catch (const std::exception& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return std::nullopt;
    }
}

// The accounts of the data folder, or of the database of --store, for the
// account commands. They do not need the store to themselves, so they also
// work while panelhosts run on it. A data file or database schema that does
// not exist yet is made first, with the names a host's first start would
// seed.
std::unique_ptr<AccountStore> openAccounts(const HostOptions& options) {
    try {
        const std::filesystem::path file = options.dataFile();
        if (panelhost::isPostgresStore(options.store)) {
            // Opening the names makes the schema, or refuses one that is
            // not a panelhost's.
            const std::unique_ptr<panelhost::NameStore> names = panelhost::openNameStore(
                options.store, file, panelhost::NameSeed::forCatalog(options.catalog()));
        } else {
            std::error_code ignored;
            if (!std::filesystem::exists(file, ignored) ||
                std::filesystem::file_size(file, ignored) == 0) {
                const panelhost::SqliteNameStore created(
                    file, panelhost::NameSeed::forCatalog(options.catalog()));
            }
        }
        return panelhost::openAccountStore(options.store, file, options.sessionIdle);
    } catch (const std::exception& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return nullptr;
    }
}

// The address of the panelhost that holds the data file, read from the file
// it keeps beside it; nothing when none holds it (the lock is free), so the
// commands may open the file themselves.
std::optional<std::string> runningHost(const HostOptions& options) {
    try {
        const panelhost::FileLock probe(options.dataFile().string() + "-lock");
        return std::nullopt;
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::resource_unavailable_try_again) {
            return std::nullopt;
        }
    }
    std::string url;
    std::ifstream(NameSetClient::addressFile(options.dataFolder())) >> url;
    return url;
}

AccountCommands::PasswordSource passwordFor(const std::string& name, bool confirm) {
    return [name, confirm] {
        return panelhost::PasswordPrompt::read("Password for " + name + ": ", confirm);
    };
}

// The program's command line and where its parsed values go. Its options
// bind to its own members, so it stays where it was made.
struct CommandLine {
    CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

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
    CLI::App* userList = nullptr;
    CLI::App* token = nullptr;
    CLI::App* tokenCreate = nullptr;
    CLI::App* tokenRevoke = nullptr;
    CLI::App* tokenList = nullptr;

  private:
    void addHostOptions();
    void addSubcommands();
};

// Whether console lines take the journal's form (--log-format).
bool journalWanted(const std::string& logFormat) {
    return logFormat == "journal" || (logFormat == "auto" && SystemdService::stderrIsJournal());
}

// The plugin, layouts and web folder: beside an installed program
// (PREFIX/bin/panelhost finds PREFIX/lib/panelhost/ and PREFIX/share/panelhost/)
// when they are there, else in the build and source tree it was built from.
void findFiles(HostOptions& options) {
    std::error_code failed;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
    const std::filesystem::path prefix = program.parent_path().parent_path();
    const std::filesystem::path shared = prefix / TOVI_INSTALL_DATADIR;
    if (!failed && std::filesystem::is_directory(shared / "layouts", failed)) {
        options.plugin = prefix / TOVI_INSTALL_PLUGINDIR / TOVI_PLUGIN_NAME;
        options.layouts = shared / "layouts";
        options.web = shared / "web";
        return;
    }
    options.plugin = TOVI_DEFAULT_PLUGIN;
    options.layouts = TOVI_DEFAULT_LAYOUTS;
    options.web = TOVI_DEFAULT_WEB;
}

// Why `name` cannot be a --host-name, or "".
std::string checkHostName(const std::string& name) {
    if (name.empty() || name.size() > HostOptions::kLongestHostName) {
        return "must be 1 to " + std::to_string(HostOptions::kLongestHostName) + " characters";
    }
    for (const char c : name) {
        if (c < ' ' || c > '~') {
            return "must be printable ASCII (the database shows nothing else)";
        }
    }
    return {};
}

CommandLine::CommandLine() {
    findFiles(options);
    sessionIdleMinutes = static_cast<int>(
        std::chrono::duration_cast<std::chrono::minutes>(options.sessionIdle).count());
    addHostOptions();
    addSubcommands();
}

void CommandLine::addHostOptions() {
    app.add_option("--config", configFile,
                   std::string("configuration file (TOML; every option below has a key of its "
                               "name; default ") +
                       ConfigFile::kDefaultPath + " when it exists)");
    app.add_flag("--print-config", printConfig,
                 "print the settings in force (configuration file and command line) and end");
    const std::string dataHelp =
        "data folder (default " + HostOptions::defaultDataFolder().string() + ")";
    app.add_option("--plugin", options.plugin, "panel plugin to load")->capture_default_str();
    app.add_option("--layouts", options.layouts, "folder of the layout files given to the plugin")
        ->capture_default_str();
    app.add_option("--data", options.data, dataHelp);
    app.add_option("--store", options.store,
                   "keep the names and accounts in this PostgreSQL database, "
                   "postgresql://USER@HOST:PORT/DB "
                   "(default: the data file in the data folder; one host per database; give a "
                   "password through ~/.pgpass or PGPASSWORD, not here)")
        ->check([](const std::string& value) {
            return value.empty() || panelhost::isPostgresStore(value)
                       ? std::string()
                       : std::string("must be a postgresql:// URL");
        });
    app.add_option("--host-name", options.hostName,
                   "this host's name to the other hosts on the same --store database (who drives "
                   "a display), printable ASCII, at most " +
                       std::to_string(HostOptions::kLongestHostName) + " characters")
        ->check(checkHostName)
        ->capture_default_str();
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
    app.add_option("--tls-cert", options.tlsCertificate,
                   "serve HTTPS with this certificate chain (PEM); needs --tls-key")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    CLI::Option* tlsKey =
        app.add_option("--tls-key", options.tlsKey, "the private key (PEM) of --tls-cert")
            ->check(CLI::ExistingFile)
            ->type_name("FILE");
    app.get_option("--tls-cert")->needs(tlsKey);
    tlsKey->needs(app.get_option("--tls-cert"));
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
    app.add_option("--log-format", logFormat,
                   "console lines: plain (with the time), journal (a priority in front, for "
                   "systemd's journal) or auto (journal when standard error is the journal)")
        ->check(CLI::IsMember({"auto", "plain", "journal"}))
        ->capture_default_str();

    app.add_option("--router", router,
                   "back the router device with a real router: ember:HOST:PORT[,matrix=PATH] "
                   "follows an Ember+ matrix (its source labels become database 0, its target "
                   "labels database 2, its crosspoints what ,follow=router displays show); "
                   "simulated when not given")
        ->type_name("ember:HOST:PORT");
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
}

void CommandLine::addSubcommands() {
    exportSet = app.add_subcommand("export-set", "write a name set as CSV (source,name)");
    exportSet->add_option("--set", set, "name set: the database number on the device")->required();
    exportSet->add_option("--device", device, "device that holds the set")->capture_default_str();
    exportSet->add_option("--output", file, "CSV file to write (-: standard output)")
        ->capture_default_str();
    importSet = app.add_subcommand(
        "import-set",
        "read a name set from CSV (source,name); nothing is written when a line is invalid");
    importSet->add_option("--set", set, "name set: the database number on the device")->required();
    importSet->add_option("--device", device, "device that holds the set")->capture_default_str();
    importSet->add_option("--input", file, "CSV file to read")->required();
    for (CLI::App* command : {exportSet, importSet}) {
        command
            ->add_option("--token", apiToken,
                         "API token for going through a running panelhost (default: "
                         "$PANELHOST_TOKEN)")
            ->envname("PANELHOST_TOKEN");
    }

    user = app.add_subcommand("user", "manage the accounts (also while panelhost runs)");
    userAdd = user->add_subcommand(
        "add",
        "add an account; the password is read from the terminal without echo, or as one line of "
        "standard input when that is not a terminal");
    userAdd->add_option("name", name, "account name (letters, digits, '.', '_', '-')")->required();
    userAdd->add_option("--role", role, "viewer, operator, engineer or admin")
        ->required()
        ->check(CLI::IsMember(kRoles));
    userRemove = user->add_subcommand("remove", "remove an account and end its sessions");
    userRemove->add_option("name", name, "account name")->required();
    userPasswd = user->add_subcommand(
        "passwd", "set an account's password (read as for add) and end its sessions");
    userPasswd->add_option("name", name, "account name")->required();
    userList = user->add_subcommand("list", "list the accounts (never their passwords)");
    user->require_subcommand(1);

    token = app.add_subcommand(
        "token", "manage the API tokens of scripts and monitoring (also while panelhost runs)");
    tokenCreate = token->add_subcommand(
        "create", "create a token and print it on standard output; it is shown only this once");
    tokenCreate->add_option("--role", role, "viewer, operator, engineer or admin")
        ->required()
        ->check(CLI::IsMember(kRoles));
    tokenCreate->add_option("--name", name,
                            "a name to list and revoke it by (default: ROLE-XXXXXXXX)");
    tokenRevoke = token->add_subcommand("revoke", "revoke a token at once");
    tokenRevoke->add_option("name", name, "token name")->required();
    tokenList = token->add_subcommand("list", "list the tokens (never the tokens)");
    token->require_subcommand(1);

    // The host's options (--data, --store, --devices) also apply after a
    // subcommand.
    for (CLI::App* command : {exportSet, importSet, user, userAdd, userRemove, userPasswd, userList,
                              token, tokenCreate, tokenRevoke, tokenList}) {
        command->fallthrough();
        command->footer(
            "The host's --data DIR, --store URL and --devices FILE apply here too, and so does "
            "the configuration file.");
    }
    app.require_subcommand(0, 1);
}

std::optional<int> CommandLine::parse(int argc, char** argv, std::ostream& errors) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    }
    std::error_code missing;
    const std::filesystem::path chosen =
        !configFile.empty() ? std::filesystem::path(configFile)
        : std::filesystem::exists(ConfigFile::kDefaultPath, missing)
            ? std::filesystem::path(ConfigFile::kDefaultPath)
            : std::filesystem::path();
    if (!chosen.empty()) {
        try {
            ConfigFile::apply(app, chosen);
        } catch (const ConfigFileError& error) {
            errors << "panelhost: " << error.what() << std::endl;
            return StartupError::kConfiguration;
        }
    }
    for (const std::string& targetText : displayTargets) {
        std::string error;
        const std::optional<tsl::TslTarget> parsed = tsl::TslTarget::parse(targetText, error);
        if (!parsed) {
            errors << "panelhost: --tsl: " << error << std::endl;
            return StartupError::kConfiguration;
        }
        options.displays.targets.push_back(*parsed);
    }
    if (!router.empty()) {
        ember::EmberEndpoint endpoint;
        std::string error;
        if (router.rfind(kEmberPrefix, 0) != 0) {
            errors << "panelhost: --router: \"" << router
                   << "\" names no known router protocol (expected ember:HOST:PORT"
                      "[,matrix=PATH])"
                   << std::endl;
            return StartupError::kConfiguration;
        }
        if (!ember::EmberEndpoint::parse(router.substr(kEmberPrefix.size()), endpoint, error)) {
            errors << "panelhost: --router: " << error << std::endl;
            return StartupError::kConfiguration;
        }
        options.router = endpoint;
    }
    options.displays.screen = static_cast<std::uint16_t>(screen);
    options.displays.refreshPeriod = std::chrono::seconds(refreshSeconds);
    options.sessionIdle = std::chrono::minutes(sessionIdleMinutes);
    options.journalLog = journalWanted(logFormat);
    return std::nullopt;
}

// What a message that ends the program starts with: in the journal, the
// priority of an error, so that it is not filed as mere information.
std::string fatalPrefix(const std::string& logFormat) {
    return journalWanted(logFormat) ? "<3>" : "";
}

// Re-reads the configuration file on SIGHUP: what can change while the
// host runs (the console's verbosity) changes; every other difference is
// logged as waiting for a restart.
void reload(HostApplication& host, const CommandLine& running, int argc, char** argv) {
    SystemdService::reloading();
    CommandLine fresh;
    std::ostringstream said;
    // The arguments parsed once already; only the file can fail now.
    const std::optional<int> failed = fresh.parse(argc, argv, said);
    if (failed) {
        std::string why = said.str();
        while (!why.empty() && why.back() == '\n') {
            why.pop_back();
        }
        const std::string program = "panelhost: ";
        if (why.rfind(program, 0) == 0) {
            why.erase(0, program.size());
        }
        host.log().add(0, "error", "reload: the configuration is not used: " + why);
        SystemdService::ready("serving; the last reload failed");
        return;
    }
    host.setVerbose(fresh.options.verbose);
    const auto before = ConfigFile::values(running.app);
    const auto after = ConfigFile::values(fresh.app);
    std::string waiting;
    for (const auto& [key, value] : after) {
        const auto old = before.find(key);
        if (key != "verbose" && (old == before.end() || old->second != value)) {
            waiting += (waiting.empty() ? "" : ", ") + key;
        }
    }
    for (const auto& [key, value] : before) {
        if (key != "verbose" && after.count(key) == 0) {
            waiting += (waiting.empty() ? "" : ", ") + key;
        }
    }
    host.log().add(0, "info",
                   std::string("reloaded the configuration; verbose is ") +
                       (fresh.options.verbose ? "on" : "off"));
    if (!waiting.empty()) {
        host.log().add(0, "warning", "changed settings take effect on a restart: " + waiting);
    }
    SystemdService::ready("serving");
}

// Runs the host until SIGINT or SIGTERM; SIGHUP reloads.
int serve(const CommandLine& line, int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    // Blocked before any thread starts, so every thread inherits the block
    // and the signals wait for sigwait() below.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        HostApplication host(line.options);
        std::cout << "panelhost: serving on " << host.url() << std::endl;
        if (host.loginLink()) {
            // On the console only, never in the log that the API serves.
            std::cout << "panelhost: no account has a password yet; log in as admin once with\n"
                      << "    " << *host.loginLink() << "\n"
                      << "then give admin a password (panelhost user passwd admin) or add "
                         "accounts. The link works once and for "
                      << std::chrono::duration_cast<std::chrono::minutes>(
                             AccountStore::kOnceLoginLifetime)
                             .count()
                      << (panelhost::isPostgresStore(line.options.store)
                              ? " minutes; other hosts on the database, and restarts, print none."
                              : " minutes; a restart prints a new one.")
                      << std::endl;
        }
        SystemdService::ready("serving on " + host.url());
        int received = 0;
        while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
            reload(host, line, argc, argv);
        }
        SystemdService::stopping();
        host.log().add(0, "info", std::string("stopping on ") + strsignal(received));
        host.shutdown();
    } catch (const StartupError& error) {
        std::cerr << fatalPrefix(line.logFormat) << "panelhost: " << error.what() << std::endl;
        return error.exitCode();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::ostringstream refusal;
    if (const std::optional<int> done = line.parse(argc, argv, refusal)) {
        std::cerr << fatalPrefix(line.logFormat) << refusal.str() << std::flush;
        return *done;
    }
    HostOptions& options = line.options;
    if (line.printConfig) {
        ConfigFile::print(line.app, std::cout);
        return 0;
    }

    if (line.user->parsed() || line.token->parsed()) {
        const std::unique_ptr<AccountStore> accounts = openAccounts(options);
        if (!accounts) {
            return StartupError::kDataFile;
        }
        const std::string& name = line.name;
        const std::string& role = line.role;
        if (line.userAdd->parsed()) {
            return AccountCommands::addUser(*accounts, name, role, passwordFor(name, true),
                                            std::cout, std::cerr);
        }
        if (line.userRemove->parsed()) {
            return AccountCommands::removeUser(*accounts, name, std::cout, std::cerr);
        }
        if (line.userPasswd->parsed()) {
            return AccountCommands::setPassword(*accounts, name, passwordFor(name, true), std::cout,
                                                std::cerr);
        }
        if (line.userList->parsed()) {
            return AccountCommands::listUsers(*accounts, std::cout, std::cerr);
        }
        if (line.tokenCreate->parsed()) {
            return AccountCommands::createToken(*accounts, role, name, std::cout, std::cerr);
        }
        if (line.tokenRevoke->parsed()) {
            return AccountCommands::revokeToken(*accounts, name, std::cout, std::cerr);
        }
        return AccountCommands::listTokens(*accounts, std::cout, std::cerr);
    }

    if (line.exportSet->parsed() || line.importSet->parsed()) {
        const auto where = target(options, line.device, line.set);
        if (!where) {
            return StartupError::kConfiguration;
        }
        // While a panelhost holds the data file, the commands go through
        // its API; otherwise they open the file as before.
        if (const std::optional<std::string> url = runningHost(options)) {
            if (url->empty()) {
                std::cerr << "panelhost: a panelhost uses " << options.dataFile().string()
                          << " but has not said where it serves ("
                          << NameSetClient::addressFile(options.dataFolder()).string()
                          << " is missing)" << std::endl;
                return StartupError::kDataFile;
            }
            const NameSetClient client(*url, line.apiToken);
            return line.exportSet->parsed()
                       ? client.exportSet(line.device, line.set, line.file, std::cout, std::cerr)
                       : client.importSet(line.device, line.set, line.file, std::cout, std::cerr);
        }
        return line.exportSet->parsed()
                   ? NameSetFiles::exportSet(*where, line.file, std::cout, std::cerr)
                   : NameSetFiles::importSet(*where, line.file, std::cout, std::cerr);
    }
    return serve(line, argc, argv);
}
