#include "NameStore.h"

#include <algorithm>
#include <utility>

namespace panelhost {

std::optional<std::string> NameStore::name(const std::string& device, int database,
                                           int index) const {
    const auto found = names_.find(NameKey{device, database, index});
    if (found == names_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string NameStore::slot(const std::string& device, int index) const {
    const auto found = slots_.find(SlotKey{device, index});
    return found == slots_.end() ? std::string() : found->second;
}

std::map<int, std::string> NameStore::names(const std::string& device, int database) const {
    std::map<int, std::string> found;
    for (auto entry = names_.lower_bound(NameKey{device, database, 0});
         entry != names_.end() && std::get<0>(entry->first) == device &&
         std::get<1>(entry->first) == database;
         ++entry) {
        found.emplace_hint(found.end(), std::get<2>(entry->first), entry->second);
    }
    return found;
}

std::map<int, std::string> NameStore::writtenSlots(const std::string& device) const {
    std::map<int, std::string> found;
    for (auto entry = slots_.lower_bound(SlotKey{device, 0});
         entry != slots_.end() && entry->first.first == device; ++entry) {
        if (!entry->second.empty()) {
            found.emplace_hint(found.end(), entry->first.second, entry->second);
        }
    }
    return found;
}

std::map<int, int> NameStore::crosspoints(const std::string& device) const {
    const auto found = crosspoints_.find(device);
    return found == crosspoints_.end() ? std::map<int, int>() : found->second;
}

long long NameStore::namesRevision(const std::string& device, int database) const {
    const auto found = nameRevisions_.find({device, database});
    return found == nameRevisions_.end() ? wholesale_ : std::max(found->second, wholesale_);
}

long long NameStore::slotsRevision(const std::string& device) const {
    const auto found = slotRevisions_.find(device);
    return found == slotRevisions_.end() ? wholesale_ : std::max(found->second, wholesale_);
}

std::string NameStore::writeName(const NameWrite& write) {
    const std::string oldText = name(write.device, write.database, write.index).value_or("");
    writeNames({write});
    return oldText;
}

void NameStore::writeNames(const std::vector<NameWrite>& writes) {
    timed([&] { commitNames(writes); });
    remember(writes);
}

void NameStore::writeSlot(const std::string& device, int index, const std::string& text,
                          const std::string& who) {
    timed([&] { commitSlot(device, index, text, who); });
    rememberSlot(device, index, text);
}

void NameStore::writeCrosspoints(const std::string& device, const std::map<int, int>& changes) {
    commitCrosspoints(device, changes);
    for (const auto& [destination, source] : changes) {
        rememberCrosspoint(device, destination, source);
    }
}

std::vector<std::string> NameStore::oldTexts(const std::vector<NameWrite>& writes) const {
    std::map<NameKey, std::string> written;
    std::vector<std::string> texts;
    texts.reserve(writes.size());
    for (const NameWrite& write : writes) {
        const NameKey key{write.device, write.database, write.index};
        const auto earlier = written.find(key);
        texts.push_back(earlier != written.end()
                            ? earlier->second
                            : name(write.device, write.database, write.index).value_or(""));
        written[key] = write.text;
    }
    return texts;
}

void NameStore::remember(const std::vector<NameWrite>& writes) {
    for (const NameWrite& write : writes) {
        remember(write.device, write.database, write.index, write.text);
    }
}

void NameStore::remember(const std::string& device, int database, int index,
                         const std::string& text) {
    names_[NameKey{device, database, index}] = text;
    nameRevisions_[{device, database}] = ++changes_;
}

void NameStore::rememberSlot(const std::string& device, int index, const std::string& text) {
    slots_[SlotKey{device, index}] = text;
    slotRevisions_[device] = ++changes_;
}

void NameStore::rememberCrosspoint(const std::string& device, int destination, int source) {
    crosspoints_[device][destination] = source;
}

void NameStore::rememberAll(std::map<NameKey, std::string> names,
                            std::map<SlotKey, std::string> slots,
                            std::map<std::string, std::map<int, int>> crosspoints) {
    names_ = std::move(names);
    slots_ = std::move(slots);
    crosspoints_ = std::move(crosspoints);
    wholesale_ = ++changes_;
}

}  // namespace panelhost
