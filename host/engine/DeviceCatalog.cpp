#include "DeviceCatalog.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

namespace panelhost {
namespace {

// Sources of the studio router; every database holds one name per source.
constexpr int kSources = 128;
// Slots of an infodriver: the tally slots in use (211, 212) lie well inside.
constexpr int kInfodriverSlots = 4096;
// Longest slot or name text a notification record carries.
constexpr std::size_t kLongestName = 256;

constexpr int kRouterNumber = 1;
constexpr int kTallyNumber = 57;
constexpr int kNamesNumber = 12;
constexpr int kTitleDatabase = 9;
// A fresh studio: the displays at medium brightness, showing name set 1.
constexpr int kBrightnessSlot = 211;
constexpr int kNamesetSlot = 212;

nlohmann::json initialSlotsJson(const DeviceSpec& device) {
    nlohmann::json slots = nlohmann::json::object();
    for (const auto& [slot, text] : device.initialSlots) {
        slots[std::to_string(slot)] = text;
    }
    return slots;
}

}  // namespace

bool DeviceSpec::hasDatabase(int database) const {
    return std::find(databases.begin(), databases.end(), database) != databases.end();
}

bool DeviceSpec::hasEntry(int database, int index) const {
    return hasDatabase(database) && index >= 1 && index <= entries;
}

nlohmann::json DeviceSpec::toJson() const {
    return {{"name", name},
            {"number", number},
            {"slots", slots},
            {"databases", databases},
            {"entries", entries},
            {"titleDatabase", titleDatabase},
            {"initialSlots", initialSlotsJson(*this)}};
}

DeviceCatalog::DeviceCatalog(std::vector<DeviceSpec> devices) : devices_(std::move(devices)) {
    std::set<int> numbers;
    std::set<std::string> names;
    for (const DeviceSpec& device : devices_) {
        if (device.name.empty() || device.name.find('\'') != std::string::npos ||
            device.name.size() > kLongestName) {
            throw ConfigError("device name \"" + device.name +
                              "\" must be 1 to 256 characters without an apostrophe");
        }
        if (device.number <= 0) {
            throw ConfigError("device \"" + device.name + "\" needs a number above 0");
        }
        if (!numbers.insert(device.number).second) {
            throw ConfigError("device number " + std::to_string(device.number) + " is given twice");
        }
        if (!names.insert(device.name).second) {
            throw ConfigError("device \"" + device.name + "\" is given twice");
        }
        if (device.slots < 0 || device.entries < 0 ||
            (!device.databases.empty() && device.entries == 0)) {
            throw ConfigError(
                "device \"" + device.name +
                "\": slots and entries must not be negative, and databases need entries");
        }
        for (const auto& [slot, text] : device.initialSlots) {
            if (!device.hasSlot(slot) || text.size() > kLongestName) {
                throw ConfigError("device \"" + device.name + "\": initial slot " +
                                  std::to_string(slot) + " is not one of its slots or is too long");
            }
        }
        if (device.titleDatabase != 0 && !device.hasDatabase(device.titleDatabase)) {
            throw ConfigError("device \"" + device.name + "\": titleDatabase " +
                              std::to_string(device.titleDatabase) +
                              " is not one of its databases");
        }
    }
}

DeviceCatalog DeviceCatalog::defaults() {
    return DeviceCatalog({
        DeviceSpec{"StC SDI Router", kRouterNumber, 0, {0, 2}, kSources, 0, {}},
        DeviceSpec{"CTA Tally Infodriver",
                   kTallyNumber,
                   kInfodriverSlots,
                   {},
                   0,
                   0,
                   {{kBrightnessSlot, "2"}, {kNamesetSlot, "1"}}},
        DeviceSpec{"StC_UMD_Names_DriverID",
                   kNamesNumber,
                   kInfodriverSlots,
                   {1, 2, 3, 4, 5, 6, 7, 8, kTitleDatabase},
                   kSources,
                   kTitleDatabase,
                   {}},
    });
}

DeviceCatalog DeviceCatalog::fromJson(const nlohmann::json& document) {
    std::vector<DeviceSpec> devices;
    try {
        for (const nlohmann::json& entry : document.at("devices")) {
            DeviceSpec device;
            device.name = entry.at("name").get<std::string>();
            device.number = entry.at("number").get<int>();
            device.slots = entry.value("slots", 0);
            device.databases = entry.value("databases", std::vector<int>{});
            device.entries = entry.value("entries", 0);
            device.titleDatabase = entry.value("titleDatabase", 0);
            const auto slots = entry.find("initialSlots");
            if (slots != entry.end()) {
                for (auto slot = slots->begin(); slot != slots->end(); ++slot) {
                    device.initialSlots[std::stoi(slot.key())] = slot.value().get<std::string>();
                }
            }
            devices.push_back(std::move(device));
        }
    } catch (const nlohmann::json::exception& error) {
        throw ConfigError(std::string("device configuration: ") + error.what());
    } catch (const std::logic_error&) {
        throw ConfigError("device configuration: initialSlots must be keyed by slot numbers");
    }
    return DeviceCatalog(std::move(devices));
}

DeviceCatalog DeviceCatalog::fromFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) {
        throw ConfigError(path.string() + ": cannot be opened");
    }
    try {
        return fromJson(nlohmann::json::parse(in));
    } catch (const nlohmann::json::exception& error) {
        throw ConfigError(path.string() + ": " + error.what());
    } catch (const ConfigError& error) {
        throw ConfigError(path.string() + ": " + error.what());
    }
}

const DeviceSpec* DeviceCatalog::byNumber(int number) const {
    const auto found =
        std::find_if(devices_.begin(), devices_.end(),
                     [&](const DeviceSpec& device) { return device.number == number; });
    return found == devices_.end() ? nullptr : &*found;
}

const DeviceSpec* DeviceCatalog::byName(std::string_view name) const {
    const auto found = std::find_if(devices_.begin(), devices_.end(),
                                    [&](const DeviceSpec& device) { return device.name == name; });
    return found == devices_.end() ? nullptr : &*found;
}

nlohmann::json DeviceCatalog::toJson() const {
    nlohmann::json list = nlohmann::json::array();
    for (const DeviceSpec& device : devices_) {
        list.push_back(device.toJson());
    }
    return nlohmann::json{{"devices", list}};
}

}  // namespace panelhost
