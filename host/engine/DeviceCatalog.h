#pragma once

#include <filesystem>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace panelhost {

// A device configuration that cannot be used; what() says why.
class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One simulated device: its instance name, the number "SD" answers, its
// slots (infodrivers only, numbered 1 to `slots`) and its name databases
// (entries numbered 1 to `entries`). `titleDatabase`, when not 0, is the
// database that holds the titles of the others and is seeded with them;
// `initialSlots` are the slot contents of a new data file.
struct DeviceSpec {
    std::string name;
    int number = 0;
    int slots = 0;
    std::vector<int> databases;
    int entries = 0;
    int titleDatabase = 0;
    std::map<int, std::string> initialSlots;

    bool hasDatabase(int database) const;
    bool hasEntry(int database, int index) const;
    bool hasSlot(int index) const { return index >= 1 && index <= slots; }

    // The device in the form of the configuration file.
    nlohmann::json toJson() const;
};

// The devices the host simulates, found by instance name or device number.
class DeviceCatalog {
  public:
    // The studio of the name-set panel: "StC SDI Router" (databases 0 and 2),
    // "CTA Tally Infodriver" (slots) and "StC_UMD_Names_DriverID" (databases
    // 1 to 9, 9 holding the titles), 128 entries each.
    static DeviceCatalog defaults();

    // Reads a catalog from JSON (the form docs/panelhost.md shows); throws
    // ConfigError.
    static DeviceCatalog fromJson(const nlohmann::json& document);
    static DeviceCatalog fromFile(const std::filesystem::path& path);

    const DeviceSpec* byNumber(int number) const;
    const DeviceSpec* byName(std::string_view name) const;
    const std::vector<DeviceSpec>& devices() const { return devices_; }

    nlohmann::json toJson() const;

  private:
    explicit DeviceCatalog(std::vector<DeviceSpec> devices);

    std::vector<DeviceSpec> devices_;
};

}  // namespace panelhost
