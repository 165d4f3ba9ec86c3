#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "AccountStore.h"
#include "ChangeFeed.h"
#include "ConsoleWriter.h"
#include "DeviceCatalog.h"
#include "DisplayLeadership.h"
#include "DisplayOutput.h"
#include "EngineThread.h"
#include "EventLog.h"
#include "HostEngine.h"
#include "HostOptions.h"
#include "HttpAccess.h"
#include "HttpApi.h"
#include "HttpServer.h"
#include "NameStore.h"
#include "PluginLibrary.h"
#include "RouterLink.h"
#include "ServiceMetrics.h"
#include "StderrCapture.h"
#include "StoreListener.h"
#include "StreamFanOut.h"

namespace panelhost {

// Why panelhost could not start, with the exit code that tells the kinds of
// trouble apart (see docs/panelhost.md).
class StartupError : public std::runtime_error {
  public:
    static constexpr int kConfiguration = 3;
    static constexpr int kDataFile = 4;
    static constexpr int kPlugin = 5;
    static constexpr int kNetwork = 6;

    StartupError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

  private:
    int exitCode_;
};

// A running panel host: the store with its accounts, the plugin with
// its panel instances, the engine thread, the router link, the display
// output and the HTTP server, put together
// in that order and taken apart in the reverse one. It does not start on a
// non-loopback address while no account has a password (FirstStart), nor
// with a TLS key that others than its owner may read.
class HostApplication {
  public:
    // Starts everything and serves HTTP on threads of its own; throws
    // StartupError and leaves nothing running then.
    explicit HostApplication(const HostOptions& options);
    // Shuts down (see shutdown()).
    ~HostApplication();

    HostApplication(const HostApplication&) = delete;
    HostApplication& operator=(const HostApplication&) = delete;

    int port() const { return port_; }
    std::string url() const;
    // While no account has a password: the one-time login link of the
    // first-start admin, for the console only (never the log, which the
    // API serves).
    const std::optional<std::string>& loginLink() const { return loginLink_; }
    EventLog& log() { return log_; }
    // Turns the console's --verbose lines on or off while running; any
    // thread (a reload on the main thread).
    void setVerbose(bool verbose) { verbose_ = verbose; }
    // Every route the host serves; the host must be running.
    const RouteTable& routes() const { return api_->routes(); }
    // Event streams open now; 0 once shut down.
    std::size_t openStreams() const { return server_ ? server_->streams() : 0; }

    // Stops serving, destroys every panel instance (each script's "AS" comes
    // last), stops the engine and unloads the plugin. Safe to call twice.
    void shutdown();

  private:
    void printEntry(const LogEntry& entry) const;
    void printLine(int priority, const std::string& line) const;
    void startServer();
    // Writes the address file of the data folder (NameSetClient), removed
    // again on shutdown.
    void publishAddress();

    HostOptions options_;
    // Read by whichever thread adds a log entry.
    std::atomic<bool> verbose_;
    // Counted by the log's listener and the API; outlives both.
    ServiceMetrics metrics_;
    std::unique_ptr<DeviceCatalog> catalog_;
    std::unique_ptr<NameStore> store_;
    std::unique_ptr<AccountStore> accounts_;
    std::optional<std::string> loginLink_;
    EventLog log_;
    ChangeFeed feed_;
    // Outlives everything that writes to the log or captures lines; its
    // warnings go to the log and so to the feed, which outlive it.
    std::unique_ptr<ConsoleWriter> console_;
    std::unique_ptr<StderrCapture> capture_;
    std::unique_ptr<PluginLibrary> plugin_;
    std::unique_ptr<HostEngine> engine_;
    std::unique_ptr<EngineThread> thread_;
    // With a PostgreSQL store: whether it is reachable, as the listener
    // finds it, and the listener that keeps the engine in step with other
    // hosts.
    std::unique_ptr<StoreHealth> storeHealth_;
    std::unique_ptr<StoreListener> listener_;
    std::unique_ptr<RouterLink> router_;
    std::unique_ptr<HttpAccess> access_;
    std::unique_ptr<HttpApi> api_;
    std::unique_ptr<DisplayOutput> displays_;
    // Decides which displays this host drives when it shares its database.
    std::unique_ptr<DisplayLeadership> leadership_;
    std::unique_ptr<HttpServer> server_;
    std::unique_ptr<StreamFanOut> fanOut_;
    int port_ = 0;
    std::filesystem::path addressFile_;
};

}  // namespace panelhost
