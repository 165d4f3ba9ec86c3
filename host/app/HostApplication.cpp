#include "HostApplication.h"

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "FirstStart.h"
#include "NameSeed.h"
#include "NameSetClient.h"
#include "OpenAccountStore.h"
#include "OpenNameStore.h"
#include "RequestGuard.h"
#include "UmdWall.h"

namespace panelhost {
namespace {

bool everyday(const std::string& kind) {
    return kind == "info" || kind == "warning" || kind == "error";
}

// The journal's priorities (syslog's levels) of the log's kinds.
constexpr int kErrorPriority = 3;
constexpr int kWarningPriority = 4;
constexpr int kInfoPriority = 6;
constexpr int kDebugPriority = 7;

int priorityOf(const std::string& kind) {
    if (kind == "error") {
        return kErrorPriority;
    }
    if (kind == "warning") {
        return kWarningPriority;
    }
    return kind == "info" ? kInfoPriority : kDebugPriority;
}

// Every event stream holds a socket: the soft limit on open files (often
// 1024) is raised to the hard one so that the limit on streams, not the
// descriptors, decides how many are served.
void raiseFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

// Refuses a TLS private key that others than its owner may read or write,
// as ssh refuses such a key: whoever can read it can pose as this host and
// read its logins. Before anything starts, so that nothing needs undoing.
void checkKeyFile(const std::filesystem::path& key) {
    using std::filesystem::perms;
    std::error_code error;
    const perms permissions = std::filesystem::status(key, error).permissions();
    if (error || (permissions & (perms::group_all | perms::others_all)) == perms::none) {
        return;  // a key that cannot be read is refused by the server, saying why
    }
    std::array<char, sizeof "07777"> mode{};
    std::snprintf(mode.data(), mode.size(), "%04o",
                  static_cast<unsigned>(permissions & perms::mask));
    throw StartupError(StartupError::kConfiguration,
                       "--tls-key " + key.string() + ": permissions " + mode.data() +
                           " are too open: only its owner, the account the host runs as, may "
                           "read a private key (chmod 600 " +
                           key.string() + ")");
}

}  // namespace

HostApplication::HostApplication(const HostOptions& options)
    : options_(options), verbose_(options.verbose), log_(options.logCapacity) {
    if (!options_.tlsKey.empty()) {
        checkKeyFile(options_.tlsKey);
    }
    console_ = std::make_unique<ConsoleWriter>([this](std::uint64_t count) {
        log_.add(0, "warning",
                 std::to_string(count) +
                     " console lines were dropped: the console did not keep up (the log keeps "
                     "them)");
    });
    log_.addListener([this](const LogEntry& entry) { metrics_.countLogEntry(entry.kind); });
    log_.addListener([this](const LogEntry& entry) { printEntry(entry); });
    log_.addListener([this](const LogEntry& entry) { feed_.publish(entry); });
    bool madeAdmin = false;
    try {
        catalog_ = std::make_unique<DeviceCatalog>(options_.catalog());
        log_.add(0, "info", "devices from " + options_.devicesFile().string());
        const SeedData seed = NameSeed::forCatalog(*catalog_);
        store_ = openNameStore(options_.store, options_.dataFile(), seed);
        accounts_ = openAccountStore(options_.store, options_.dataFile(), options_.sessionIdle);
        madeAdmin = FirstStart::createAdmin(*accounts_);
        if (const auto refused = FirstStart::refusal(*accounts_, options_.bind)) {
            throw StartupError(StartupError::kConfiguration, *refused);
        }
    } catch (const ConfigError& error) {
        throw StartupError(StartupError::kConfiguration, error.what());
    } catch (const std::filesystem::filesystem_error& error) {
        throw StartupError(StartupError::kDataFile, error.what());
    } catch (const StoreError& error) {
        throw StartupError(StartupError::kDataFile, error.what());
    }
    log_.add(0, "info", "names kept in " + store_->location());
    try {
        access_ = std::make_unique<HttpAccess>(*accounts_, log_, options_.bind, options_.allowHosts,
                                               !options_.tlsCertificate.empty());
    } catch (const std::invalid_argument& error) {
        throw StartupError(StartupError::kConfiguration, error.what());
    }
    if (!std::filesystem::is_directory(options_.layouts)) {
        throw StartupError(StartupError::kConfiguration,
                           "the layout folder " + options_.layouts.string() + " does not exist");
    }
    if (!std::filesystem::is_directory(options_.web)) {
        log_.add(0, "warning",
                 "the web folder " + options_.web.string() +
                     " does not exist; only the HTTP API is served");
    }
    if (options_.captureStderr) {
        capture_ = std::make_unique<StderrCapture>([this](int instance, const std::string& line) {
            printLine(kDebugPriority, line);
            log_.add(instance, "debug", line);
        });
    }
    try {
        plugin_ = std::make_unique<PluginLibrary>(options_.plugin);
    } catch (const PluginError& error) {
        throw StartupError(StartupError::kPlugin, error.what());
    }
    log_.add(0, "info", "plugin " + options_.plugin.string());
    engine_ = std::make_unique<HostEngine>(*catalog_, *store_, log_, feed_,
                                           [] { return std::chrono::steady_clock::now(); });
    engine_->setObserver(capture_.get());
    thread_ = std::make_unique<EngineThread>(*engine_);
    if (isPostgresStore(options_.store)) {
        storeHealth_ = std::make_unique<StoreHealth>(log_);
        metrics_.watchStore(storeHealth_.get());
        listener_ = std::make_unique<StoreListener>(options_.store, *thread_, *storeHealth_, log_,
                                                    &access_->identities());
    }
    try {
        const std::string layouts = options_.layouts.string();
        for (int i = 0; i < options_.panels; ++i) {
            thread_->call([&](HostEngine& engine) {
                return engine.createInstance(plugin_->factory(), layouts);
            });
        }
    } catch (const std::runtime_error& error) {
        shutdown();
        throw StartupError(StartupError::kPlugin, error.what());
    }
    if (options_.router) {
        const std::string endpoint = options_.router->toString();
        if (!thread_->call(
                [&](HostEngine& engine) { return engine.router().configure(endpoint); })) {
            shutdown();
            throw StartupError(StartupError::kConfiguration,
                               std::string("--router: the device configuration has no \"") +
                                   UmdWall::kRouter + "\" for the router to back");
        }
        router_ = std::make_unique<RouterLink>(*options_.router, *thread_, log_);
    }
    if (!options_.displays.targets.empty()) {
        // Hosts on one database drive each receiver one at a time; a host on
        // its data file drives every one of its receivers.
        const bool shared = isPostgresStore(options_.store);
        tsl::TslOutputConfig config = options_.displays;
        config.drivenAtStart = !shared;
        try {
            displays_ =
                std::make_unique<DisplayOutput>(config, *thread_, feed_, log_, options_.tallies);
        } catch (const std::invalid_argument& error) {
            shutdown();
            throw StartupError(StartupError::kConfiguration, error.what());
        }
        if (shared) {
            leadership_ = std::make_unique<DisplayLeadership>(options_.store, options_.hostName,
                                                              config.targets, *displays_, log_);
        } else {
            for (std::size_t i = 0; i < config.targets.size(); ++i) {
                displays_->setDriver(i, true, options_.hostName);
            }
        }
    }
    startServer();
    log_.add(0, "info", "serving on " + url());
    publishAddress();
    try {
        // A host sharing its accounts with others prints a link only when it
        // made the admin account: a new link would replace the one printed
        // by the host that did.
        if (madeAdmin || !isPostgresStore(options_.store)) {
            loginLink_ = FirstStart::loginLink(*accounts_, url());
        } else if (!accounts_->anyPassword()) {
            log_.add(0, "warning",
                     "no account has a password yet; the one-time login link was printed by the "
                     "host that made the admin account (or give admin a password: panelhost "
                     "user passwd admin --store URL)");
        }
    } catch (const StoreError& error) {
        shutdown();
        throw StartupError(StartupError::kDataFile, error.what());
    }
}

HostApplication::~HostApplication() {
    shutdown();
}

std::string HostApplication::url() const {
    const bool ipv6 = options_.bind.find(':') != std::string::npos;
    return (options_.tlsCertificate.empty() ? "http://" : "https://") +
           (ipv6 ? "[" + options_.bind + "]" : options_.bind) + ":" + std::to_string(port_) + "/";
}

void HostApplication::printEntry(const LogEntry& entry) const {
    if (!options_.consoleLog || entry.kind == "debug" || (!verbose_ && !everyday(entry.kind))) {
        return;
    }
    const std::string who =
        entry.instance == 0 ? "host" : "panel instance " + std::to_string(entry.instance);
    const std::string line = who + " " + entry.kind + ": " + entry.text;
    printLine(priorityOf(entry.kind), options_.journalLog ? line : entry.time + " " + line);
}

void HostApplication::printLine(int priority, const std::string& line) const {
    // The console writes each line as one (escaped), so that the journal
    // takes it as one entry with its priority.
    console_->write(options_.journalLog ? "<" + std::to_string(priority) + ">" + line : line);
}

void HostApplication::startServer() {
    raiseFileLimit();
    api_ = std::make_unique<HttpApi>(*thread_, log_, *access_, options_.web, displays_.get(),
                                     &metrics_);
    api_->watchStore(storeHealth_.get());
    HttpServer::Limits limits;
    limits.longestBody = HttpApi::kLongestBody;
    limits.streams = options_.streams;
    try {
        std::optional<HttpServer::TlsFiles> tls;
        if (!options_.tlsCertificate.empty()) {
            tls = HttpServer::TlsFiles{options_.tlsCertificate, options_.tlsKey};
        }
        server_ = std::make_unique<HttpServer>(*api_, options_.bind, options_.port, limits, tls);
    } catch (const std::invalid_argument& error) {
        shutdown();
        throw StartupError(StartupError::kConfiguration, error.what());
    } catch (const std::runtime_error& error) {
        const std::string where = options_.bind + ":" + std::to_string(options_.port);
        shutdown();
        throw StartupError(StartupError::kNetwork,
                           "cannot listen on " + where + " (" + error.what() +
                               "; is the port in use, or the address not one of this machine?)");
    }
    port_ = server_->port();
    metrics_.watchServer(server_.get());
    // The server outlives every request that could call this: its workers
    // are joined before it goes.
    access_->serveOn(port_, [server = server_.get()](const std::string& name, bool token) {
        server->closeStreamsOf(name, token);
    });
    fanOut_ = std::make_unique<StreamFanOut>(feed_, *server_, log_, api_->fence());
}

void HostApplication::publishAddress() {
    const std::filesystem::path file = NameSetClient::addressFile(options_.dataFolder());
    std::ofstream(file) << url() << "\n";
    if (std::ifstream(file).good()) {
        addressFile_ = file;
    } else {
        log_.add(0, "warning",
                 file.string() +
                     " cannot be written: export-set and import-set will not find "
                     "this host");
    }
}

void HostApplication::shutdown() {
    if (!addressFile_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(addressFile_, ignored);
        addressFile_.clear();
    }
    feed_.close();
    fanOut_.reset();
    metrics_.watchServer(nullptr);
    metrics_.watchStore(nullptr);
    server_.reset();
    router_.reset();
    leadership_.reset();
    displays_.reset();
    listener_.reset();
    if (thread_) {
        try {
            thread_->call([](HostEngine& engine) { engine.destroyAll(); });
        } catch (const std::runtime_error&) {
            // Already stopped: the instances are gone.
        }
        thread_->stop();
    }
}

}  // namespace panelhost
