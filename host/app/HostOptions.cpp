#include "HostOptions.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

namespace panelhost {
namespace {

constexpr const char* kFolderName = "panelhost";
constexpr int kJsonIndent = 2;
// What a machine without a name is called.
constexpr const char* kNamelessHost = "panelhost";
// Room for any host name the system gives (HOST_NAME_MAX is 64 on Linux).
constexpr std::size_t kHostNameBuffer = 256;

}  // namespace

std::string HostOptions::defaultHostName() {
    char name[kHostNameBuffer] = {};
    if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') {
        return kNamelessHost;
    }
    return std::string(name).substr(0, kLongestHostName);
}

std::filesystem::path HostOptions::defaultDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / kFolderName;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".local" / "share" / kFolderName;
    }
    return std::filesystem::current_path() / "panelhost-data";
}

std::filesystem::path HostOptions::dataFolder() const {
    const std::filesystem::path folder = data.empty() ? defaultDataFolder() : data;
    std::filesystem::create_directories(folder);
    // Said at once and plainly: otherwise the first file the host cannot
    // create there fails with a message about that file.
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw std::filesystem::filesystem_error(
            "the data folder cannot be written; panelhost keeps its data file and its "
            "write-ahead log there",
            folder, std::error_code(errno, std::generic_category()));
    }
    return folder;
}

std::filesystem::path HostOptions::devicesFile() const {
    return devices.empty() ? dataFolder() / "devices.json" : devices;
}

DeviceCatalog HostOptions::catalog() const {
    const std::filesystem::path file = devicesFile();
    if (devices.empty() && !std::filesystem::exists(file)) {
        const DeviceCatalog defaults = DeviceCatalog::defaults();
        std::ofstream out(file);
        out << defaults.toJson().dump(kJsonIndent) << "\n";
        if (!out) {
            throw ConfigError(file.string() + ": cannot be written");
        }
        return defaults;
    }
    return DeviceCatalog::fromFile(file);
}

}  // namespace panelhost
