#include "ProgramOptions.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "ConfigFile.h"
#include "HostApplication.h"
#include "OpenNameStore.h"
#include "SystemdService.h"

namespace panelhost {
namespace {

// Most panel instances one host runs.
constexpr int kMostPanels = 16;
constexpr int kHighestPort = 65535;
// Screen 0xFFFF means "all screens" to a receiver.
constexpr int kHighestScreen = 0xFFFE;
constexpr int kLongestRefreshSeconds = 3600;
// A session may stay idle for up to a week; longer is rather "never".
constexpr int kLongestSessionIdleMinutes = 7 * 24 * 60;
// --router names the protocol first, so other kinds of router can follow.
constexpr std::string_view kEmberPrefix = "ember:";
const std::vector<std::string> kRoles = {"viewer", "operator", "engineer", "admin"};

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

}  // namespace

ProgramOptions::ProgramOptions() {
    findFiles(options);
    sessionIdleMinutes = static_cast<int>(
        std::chrono::duration_cast<std::chrono::minutes>(options.sessionIdle).count());
    addHostOptions();
    addSubcommands();
}

void ProgramOptions::addHostOptions() {
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
            return value.empty() || isPostgresStore(value)
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

void ProgramOptions::addSubcommands() {
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
    userRole = user->add_subcommand(
        "role",
        "give an account another role, effective at its next request (the last admin stays one)");
    userRole->add_option("name", name, "account name")->required();
    userRole->add_option("role", role, "viewer, operator, engineer or admin")
        ->required()
        ->check(CLI::IsMember(kRoles));
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
    for (CLI::App* command : {exportSet, importSet, user, userAdd, userRemove, userPasswd, userRole,
                              userList, token, tokenCreate, tokenRevoke, tokenList}) {
        command->fallthrough();
        command->footer(
            "The host's --data DIR, --store URL and --devices FILE apply here too, and so does "
            "the configuration file.");
    }
    app.require_subcommand(0, 1);
}

bool ProgramOptions::journalWanted(const std::string& logFormat) {
    return logFormat == "journal" || (logFormat == "auto" && SystemdService::stderrIsJournal());
}

std::optional<int> ProgramOptions::parse(int argc, char** argv, std::ostream& errors) {
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

}  // namespace panelhost
