#include "RememberedIdentities.h"

#include <algorithm>
#include <cctype>

namespace panelhost {
namespace {

bool sameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

RememberedIdentities::RememberedIdentities(std::chrono::seconds grace, std::size_t capacity)
    : grace_(grace), capacity_(capacity) {}

void RememberedIdentities::verified(const Hash& hash, const Identity& identity, Time now) {
    Identity kept = identity;
    kept.remembered = false;
    if (const auto found = index_.find(hash); found != index_.end()) {
        found->second->identity = kept;
        found->second->verified = now;
        entries_.splice(entries_.begin(), entries_, found->second);
        return;
    }
    entries_.push_front(Entry{hash, kept, now});
    index_.emplace(hash, entries_.begin());
    if (index_.size() > capacity_) {
        erase(std::prev(entries_.end()));
    }
}

std::optional<Identity> RememberedIdentities::recall(const Hash& hash, Time now) const {
    const auto found = index_.find(hash);
    if (found == index_.end()) {
        return std::nullopt;
    }
    const Entry& entry = *found->second;
    if (now < entry.verified || now - entry.verified > grace_) {
        return std::nullopt;
    }
    Identity identity = entry.identity;
    identity.remembered = true;
    return identity;
}

void RememberedIdentities::forget(const Hash& hash) {
    if (const auto found = index_.find(hash); found != index_.end()) {
        erase(found->second);
    }
}

void RememberedIdentities::forgetNamed(const std::string& name, bool token) {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        const auto next = std::next(entry);
        if (entry->identity.token == token && sameName(entry->identity.name, name)) {
            erase(entry);
        }
        entry = next;
    }
}

void RememberedIdentities::erase(std::list<Entry>::iterator entry) {
    index_.erase(entry->hash);
    entries_.erase(entry);
}

}  // namespace panelhost
