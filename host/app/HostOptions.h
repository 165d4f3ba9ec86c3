#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "AccountStore.h"
#include "DeviceCatalog.h"
#include "EmberEndpoint.h"
#include "TallyInputs.h"
#include "TslOutput.h"

namespace panelhost {

// How panelhost is to run; main() fills it from the command line.
struct HostOptions {
    // Entries the log keeps before it drops the oldest.
    static constexpr std::size_t kDefaultLogCapacity = 20000;
    static constexpr int kDefaultPort = 8080;
    // Event streams served at once: twice the thousand pages a studio is
    // measured with (docs/performance.md).
    static constexpr std::size_t kDefaultStreams = 2048;
    // The server keeps this much of a connection's application_name, in
    // ASCII: a longer or other host name would show cut or changed.
    static constexpr std::size_t kLongestHostName = 63;

    std::filesystem::path plugin;
    std::filesystem::path layouts;
    std::filesystem::path web;
    // Folder of the data file; empty: defaultDataFolder().
    std::filesystem::path data;
    // Device configuration; empty: devices.json in the data folder, written
    // with the defaults when it does not exist.
    std::filesystem::path devices;
    // Where the names are kept: empty for the data file in the data folder,
    // or a postgresql:// URL (openNameStore).
    std::string store;
    // How this host is known to the others on the same database: who drives
    // a display (GET /api/tsl), the application_name of the connection that
    // decides it.
    std::string hostName = defaultHostName();
    std::string bind = "127.0.0.1";
    int port = kDefaultPort;
    // Further names clients may address the host by (the Host header), each
    // NAME or NAME:PORT, besides its address and, on loopback, localhost.
    std::vector<std::string> allowHosts;
    // Certificate chain and private key (PEM) to serve HTTPS with; both
    // empty: plain HTTP.
    std::filesystem::path tlsCertificate;
    std::filesystem::path tlsKey;
    // A login session unused for this long is over.
    std::chrono::seconds sessionIdle = AccountStore::kDefaultSessionIdle;
    int panels = 1;
    // Most event streams open at once; more are refused with 503.
    std::size_t streams = kDefaultStreams;
    bool captureStderr = true;
    // Log lines on the console: info, warnings and errors, and with
    // `verbose` also commands, answers, notifications and events.
    bool consoleLog = true;
    bool verbose = false;
    // Console lines for the journal: each entry one line with its priority
    // in front (<3> errors, <4> warnings, <6> information, <7> the rest) and
    // no time of day, which the journal adds itself.
    bool journalLog = false;
    std::size_t logCapacity = kDefaultLogCapacity;
    // The router behind the router device; nothing: the device is
    // simulated.
    std::optional<ember::EmberEndpoint> router;
    // Display output over TSL UMD 5.0 and 3.1: off while it names no target.
    tsl::TslOutputConfig displays;
    // Tallies from vision mixers, merged into the display output.
    TallyInputs::Config tallies;

    // $XDG_DATA_HOME/panelhost, else ~/.local/share/panelhost, else
    // ./panelhost-data.
    static std::filesystem::path defaultDataFolder();
    // The machine's name, at most kLongestHostName characters; "panelhost"
    // should it have none.
    static std::string defaultHostName();

    // The data folder in use, created when missing; throws
    // std::filesystem::filesystem_error, also when it cannot be written.
    std::filesystem::path dataFolder() const;
    std::filesystem::path dataFile() const { return dataFolder() / "panelhost.db"; }
    // The device configuration file in use (see `devices`).
    std::filesystem::path devicesFile() const;
    // Reads the device configuration, writing the defaults first when the
    // data folder has none yet; throws ConfigError.
    DeviceCatalog catalog() const;
};

}  // namespace panelhost
