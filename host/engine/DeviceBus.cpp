#include "DeviceBus.h"

#include "ControlCharacters.h"
#include "tovi_client_callback.h"

namespace panelhost {
namespace {

std::string deviceText(int device) {
    return "device " + std::to_string(device);
}

// What an entry holds, as a refusal names it: every database but the
// titles holds one name per source.
std::string entryText(const DeviceSpec& device, int database, int index) {
    return database == device.titleDatabase && database != 0
               ? "the title of name set " + std::to_string(index)
               : "the name of source " + std::to_string(index);
}

}  // namespace

DeviceBus::DeviceBus(const DeviceCatalog& catalog, NameStore& store, NotificationQueue& queue,
                     ChangeFeed& feed, EventLog& log)
    : catalog_(catalog), store_(store), queue_(queue), feed_(feed), log_(log) {}

std::optional<int> DeviceBus::lookup(const std::string& name) const {
    const DeviceSpec* device = catalog_.byName(name);
    if (device == nullptr) {
        return std::nullopt;
    }
    return device->number;
}

std::optional<std::string> DeviceBus::readName(int device, int database, int index) const {
    const DeviceSpec* deviceSpec = catalog_.byNumber(device);
    if (deviceSpec == nullptr || !deviceSpec->hasEntry(database, index)) {
        return std::nullopt;
    }
    return store_.name(deviceSpec->name, database, index).value_or("");
}

std::optional<std::string> DeviceBus::readSlot(int device, int index) const {
    const DeviceSpec* deviceSpec = catalog_.byNumber(device);
    if (deviceSpec == nullptr || !deviceSpec->hasSlot(index)) {
        return std::nullopt;
    }
    return store_.slot(deviceSpec->name, index);
}

const DeviceSpec* DeviceBus::slotDevice(int device, HostResult& error) const {
    const DeviceSpec* deviceSpec = catalog_.byNumber(device);
    if (deviceSpec == nullptr) {
        error = HostResult::notFound("there is no " + deviceText(device));
    } else if (deviceSpec->slots == 0) {
        error =
            HostResult::invalid(deviceText(device) + " (" + deviceSpec->name + ") has no slots");
        deviceSpec = nullptr;
    }
    return deviceSpec;
}

HostResult DeviceBus::checkRange(const DeviceSpec& device, int from, int to, int last,
                                 const char* what) {
    if (from < 1 || to < from || to > last) {
        return HostResult::invalid(std::string(what) + " " + std::to_string(from) + " to " +
                                   std::to_string(to) + " is not within 1 to " +
                                   std::to_string(last) + " of " + deviceText(device.number) +
                                   " (" + device.name + ")");
    }
    return HostResult::success();
}

HostResult DeviceBus::writeSlot(const std::string& who, int device, int index,
                                const std::string& text) {
    HostResult result;
    const DeviceSpec* deviceSpec = slotDevice(device, result);
    if (deviceSpec == nullptr) {
        return result;
    }
    if (!deviceSpec->hasSlot(index)) {
        return HostResult::notFound(deviceText(device) + " has no slot " + std::to_string(index));
    }
    if (text.size() > kLongestText) {
        return HostResult::invalid("a slot holds at most 256 characters, this text has " +
                                   std::to_string(text.size()));
    }
    if (const auto control = ControlCharacters::first(text)) {
        return HostResult::invalid(
            ControlCharacters::refusal("slot " + std::to_string(index), *control));
    }
    try {
        store_.writeSlot(deviceSpec->name, index, text, who);
    } catch (const StoreError& error) {
        log_.add(0, "error",
                 who + "'s write of slot " + std::to_string(index) + " of " + deviceText(device) +
                     " was not stored: " + error.what());
        return HostResult::notStored(error);
    }
    log_.add(0, "info",
             who + " wrote slot " + std::to_string(index) + " of " + deviceText(device) + ": '" +
                 text + "'");
    announceSlot(who, device, index, text);
    return HostResult::success();
}

void DeviceBus::announceSlot(const std::string& who, int device, int index,
                             const std::string& text) {
    feed_.publish(SlotChanged{device, index, text, who});
    for (const int instance : registered(slotRegistrations_, device, index)) {
        queue_.pushRecord(instance, tovi_type::kRevertive, device, 0, index, text);
    }
}

bool DeviceBus::takeSlot(const StoreChange& change) {
    const DeviceSpec* deviceSpec = catalog_.byName(change.device);
    if (deviceSpec == nullptr || !deviceSpec->hasSlot(change.index) ||
        change.text.size() > kLongestText) {
        return false;
    }
    log_.add(0, "info",
             change.who + " wrote slot " + std::to_string(change.index) + " of " +
                 deviceText(deviceSpec->number) + " on another host: '" + change.text + "'");
    announceSlot(change.who, deviceSpec->number, change.index, change.text);
    return true;
}

bool DeviceBus::takeName(const StoreChange& change) {
    const DeviceSpec* deviceSpec = catalog_.byName(change.device);
    if (deviceSpec == nullptr || !deviceSpec->hasEntry(change.database, change.index) ||
        change.text.size() > kLongestText) {
        return false;
    }
    log_.add(0, "info",
             change.who + " wrote entry " + std::to_string(change.index) + " of database " +
                 std::to_string(change.database) + " of " + deviceText(deviceSpec->number) +
                 " on another host: '" + change.oldText + "' -> '" + change.text + "'");
    announceName(change.who, deviceSpec->number, change.database, change.index, change.oldText,
                 change.text);
    return true;
}

const DeviceSpec* DeviceBus::nameEntry(int device, int database, int index, const std::string& text,
                                       HostResult& error) const {
    const DeviceSpec* deviceSpec = catalog_.byNumber(device);
    if (deviceSpec == nullptr) {
        error = HostResult::notFound("there is no " + deviceText(device));
        return nullptr;
    }
    if (!deviceSpec->hasEntry(database, index)) {
        error = HostResult::notFound(deviceText(device) + " (" + deviceSpec->name +
                                     ") has no entry " + std::to_string(index) + " in database " +
                                     std::to_string(database));
        return nullptr;
    }
    if (text.size() > kLongestText) {
        error = HostResult::invalid("a name holds at most 256 characters, this one has " +
                                    std::to_string(text.size()));
        return nullptr;
    }
    if (const auto control = ControlCharacters::first(text)) {
        error = HostResult::invalid(
            ControlCharacters::refusal(entryText(*deviceSpec, database, index), *control));
        return nullptr;
    }
    return deviceSpec;
}

void DeviceBus::announceName(const std::string& who, int device, int database, int index,
                             const std::string& oldText, const std::string& text) {
    feed_.publish(NameChanged{device, database, index, text, oldText, who});
    for (const int instance : registered(nameRegistrations_, device, index)) {
        queue_.pushRecord(instance, tovi_type::kDatabaseChange, device, database, index, text);
    }
}

HostResult DeviceBus::writeName(const std::string& who, int device, int database, int index,
                                const std::string& text, long long restores) {
    HostResult result;
    const DeviceSpec* deviceSpec = nameEntry(device, database, index, text, result);
    if (deviceSpec == nullptr) {
        return result;
    }
    std::string oldText;
    try {
        oldText = store_.writeName(
            NameWrite{deviceSpec->name, device, database, index, text, who, restores});
    } catch (const StoreError& error) {
        log_.add(0, "error",
                 who + "'s write of entry " + std::to_string(index) + " of database " +
                     std::to_string(database) + " of " + deviceText(device) +
                     " was not stored: " + error.what());
        return HostResult::notStored(error);
    }
    log_.add(0, "info",
             who + " wrote entry " + std::to_string(index) + " of database " +
                 std::to_string(database) + " of " + deviceText(device) + ": '" + oldText +
                 "' -> '" + text + "'" +
                 (restores != 0 ? " (restoring history entry " + std::to_string(restores) + ")"
                                : std::string()));
    announceName(who, device, database, index, oldText, text);
    return HostResult::success();
}

HostResult DeviceBus::writeBatch(NameBatch& batch, int device,
                                 const std::vector<NameChange>& changes) {
    std::vector<NameWrite> writes;
    std::vector<std::string> oldTexts;
    for (const NameChange& change : changes) {
        HostResult result;
        const DeviceSpec* deviceSpec =
            nameEntry(device, change.database, change.index, change.text, result);
        if (deviceSpec == nullptr) {
            return result;
        }
        writes.push_back(NameWrite{deviceSpec->name, device, change.database, change.index,
                                   change.text, batch.who, 0});
        oldTexts.push_back(
            store_.name(deviceSpec->name, change.database, change.index).value_or(""));
    }
    try {
        batch = store_.writeBatch(batch, writes);
    } catch (const StoreError& error) {
        log_.add(0, "error",
                 batch.who + "'s " + batch.kind + " of " + std::to_string(writes.size()) +
                     " names of " + deviceText(device) + " was not stored: " + error.what());
        return HostResult::notStored(error);
    }
    log_.add(0, "info",
             batch.who + " wrote " + std::to_string(writes.size()) + " names of " +
                 deviceText(device) + " in one " + batch.kind + " (" + batch.what + ", batch " +
                 std::to_string(batch.id) + ")");
    for (std::size_t i = 0; i < changes.size(); ++i) {
        announceName(batch.who, device, changes[i].database, changes[i].index, oldTexts[i],
                     changes[i].text);
    }
    return HostResult::success();
}

void DeviceBus::addRange(Registrations& table, int instance, int device, int from, int to,
                         bool add) {
    std::vector<Range>& ranges = table[{instance, device}];
    if (!add) {
        ranges.clear();
    }
    ranges.emplace_back(from, to);
}

std::vector<int> DeviceBus::registered(const Registrations& table, int device, int index) {
    std::vector<int> instances;
    for (const auto& [key, ranges] : table) {
        if (key.second != device) {
            continue;
        }
        for (const Range& range : ranges) {
            if (index >= range.first && index <= range.second) {
                instances.push_back(key.first);
                break;
            }
        }
    }
    return instances;
}

HostResult DeviceBus::registerSlots(int instance, int device, int from, int to, bool add) {
    HostResult result;
    const DeviceSpec* deviceSpec = slotDevice(device, result);
    if (deviceSpec == nullptr) {
        return result;
    }
    result = checkRange(*deviceSpec, from, to, deviceSpec->slots, "slots");
    if (result.ok()) {
        addRange(slotRegistrations_, instance, device, from, to, add);
    }
    return result;
}

HostResult DeviceBus::registerNames(int instance, int device, int from, int to, bool add) {
    const DeviceSpec* deviceSpec = catalog_.byNumber(device);
    if (deviceSpec == nullptr) {
        return HostResult::notFound("there is no " + deviceText(device));
    }
    if (deviceSpec->databases.empty()) {
        return HostResult::invalid(deviceText(device) + " (" + deviceSpec->name +
                                   ") has no databases");
    }
    const HostResult result = checkRange(*deviceSpec, from, to, deviceSpec->entries, "entries");
    if (result.ok()) {
        addRange(nameRegistrations_, instance, device, from, to, add);
    }
    return result;
}

HostResult DeviceBus::unregisterSlots(int instance, int device) {
    HostResult result;
    if (slotDevice(device, result) == nullptr) {
        return result;
    }
    slotRegistrations_.erase({instance, device});
    return HostResult::success();
}

HostResult DeviceBus::poll(int instance, int device, int from, int to) {
    HostResult result;
    const DeviceSpec* deviceSpec = slotDevice(device, result);
    if (deviceSpec == nullptr) {
        return result;
    }
    result = checkRange(*deviceSpec, from, to, deviceSpec->slots, "slots");
    if (!result.ok()) {
        return result;
    }
    for (int index = from; index <= to; ++index) {
        queue_.pushRecord(instance, tovi_type::kRevertive, device, 0, index,
                          store_.slot(deviceSpec->name, index));
    }
    return HostResult::success();
}

void DeviceBus::forget(int instance) {
    for (Registrations* table : {&slotRegistrations_, &nameRegistrations_}) {
        for (auto it = table->begin(); it != table->end();) {
            it = it->first.first == instance ? table->erase(it) : std::next(it);
        }
    }
}

}  // namespace panelhost
