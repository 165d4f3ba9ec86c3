#include "HostApplication.h"

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "FirstStart.h"
#include "NameSeed.h"
#include "RequestGuard.h"

namespace panelhost {
namespace {

nlohmann::json logJson(const LogEntry& entry) {
    return {{"sequence", entry.sequence},
            {"time", entry.time},
            {"instance", entry.instance},
            {"kind", entry.kind},
            {"text", entry.text}};
}

bool everyday(const std::string& kind) {
    return kind == "info" || kind == "warning" || kind == "error";
}

}  // namespace

HostApplication::HostApplication(const HostOptions& options)
    : options_(options), log_(options.logCapacity) {
    log_.addListener([this](const LogEntry& entry) { printEntry(entry); });
    log_.addListener([this](const LogEntry& entry) { feed_.publish("log", logJson(entry)); });
    try {
        catalog_ = std::make_unique<DeviceCatalog>(options_.catalog());
        log_.add(0, "info", "devices from " + options_.devicesFile().string());
        store_ = std::make_unique<NameStore>(options_.dataFile(), NameSeed::forCatalog(*catalog_));
        accounts_ = std::make_unique<AccountStore>(store_->file(), options_.sessionIdle);
        FirstStart::createAdmin(*accounts_);
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
    log_.add(0, "info", "data file " + store_->file().string());
    try {
        // Checked now so that a mistyped name stops the start; the guard
        // itself runs with the HTTP server.
        RequestGuard(options_.bind, options_.port, options_.allowHosts);
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
        capture_ = std::make_unique<StderrCapture>(
            [this](int instance, const std::string& line) { log_.add(instance, "debug", line); });
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
    if (!options_.displays.targets.empty()) {
        try {
            displays_ = std::make_unique<DisplayOutput>(options_.displays, *thread_, feed_, log_);
        } catch (const std::invalid_argument& error) {
            shutdown();
            throw StartupError(StartupError::kConfiguration, error.what());
        }
    }
    startServer();
    log_.add(0, "info", "serving on " + url());
    try {
        loginLink_ = FirstStart::loginLink(*accounts_, url());
    } catch (const StoreError& error) {
        shutdown();
        throw StartupError(StartupError::kDataFile, error.what());
    }
}

HostApplication::~HostApplication() {
    shutdown();
}

std::string HostApplication::url() const {
    return "http://" + options_.bind + ":" + std::to_string(port_) + "/";
}

void HostApplication::printEntry(const LogEntry& entry) const {
    if (!options_.consoleLog || entry.kind == "debug" ||
        (!options_.verbose && !everyday(entry.kind))) {
        return;
    }
    const std::string who =
        entry.instance == 0 ? "host" : "panel instance " + std::to_string(entry.instance);
    const std::string line = entry.time + " " + who + " " + entry.kind + ": " + entry.text + "\n";
    const int fd = capture_ ? capture_->console() : STDERR_FILENO;
    if (write(fd, line.data(), line.size()) < 0) {
        return;  // a console that cannot be written to loses the line; the log keeps it
    }
}

void HostApplication::startServer() {
    server_ = std::make_unique<httplib::Server>();
    server_->new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
    // An answer's head and body go out as two segments: without this the
    // body waits for the client's delayed acknowledgement (up to 40 ms).
    server_->set_tcp_nodelay(true);
    // The library's default lets a second server share a port that is in
    // use; address reuse alone still lets a restart bind at once, and a
    // port in use is reported. The listening socket is kept for the queue
    // length below; the library applies these options to it alone.
    auto listening = std::make_shared<socket_t>(INVALID_SOCKET);
    server_->set_socket_options([listening](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        *listening = sock;
    });
    api_ =
        std::make_unique<HttpApi>(*server_, *thread_, log_, feed_, options_.web, displays_.get());
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.bind);
    } else if (server_->bind_to_port(options_.bind, options_.port)) {
        port_ = options_.port;
    }
    // The library listens with a queue of 5 connections not yet accepted: a
    // burst of new clients overflowed it and some were reset. Listening
    // again on the bound socket only lengthens the queue.
    if (port_ > 0) {
        listen(*listening, SOMAXCONN);
    }
    if (port_ <= 0) {
        const std::string where = options_.bind + ":" + std::to_string(options_.port);
        shutdown();
        throw StartupError(StartupError::kNetwork,
                           "cannot listen on " + where +
                               " (is the port in use, or the address not one of this machine?)");
    }
    listener_ = std::thread([this] {
        server_->listen_after_bind();
        listenerDone_ = true;
    });
    // stop() only stops a server that runs: wait until it does, so that a
    // shutdown right after the start cannot miss it.
    constexpr auto kPoll = std::chrono::milliseconds(1);
    while (!server_->is_running() && !listenerDone_) {
        std::this_thread::sleep_for(kPoll);
    }
}

void HostApplication::shutdown() {
    feed_.close();
    if (server_) {
        server_->stop();
    }
    if (listener_.joinable()) {
        listener_.join();
    }
    displays_.reset();
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
