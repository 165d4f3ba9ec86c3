#include "FailureTally.h"

#include <algorithm>
#include <iterator>

namespace panelhost {

FailureTally::FailureTally(std::size_t most, std::chrono::seconds window, std::size_t capacity)
    : most_(std::max<std::size_t>(most, 1)),
      window_(window),
      capacity_(std::max<std::size_t>(capacity, 1)) {}

void FailureTally::forgetOld(Failures& failures, Time now) const {
    while (!failures.empty() && now - failures.front().at >= window_) {
        failures.pop_front();
    }
}

std::optional<std::chrono::seconds> FailureTally::wait(const std::string& key, Time now) {
    const auto found = keys_.find(key);
    if (found == keys_.end()) {
        return std::nullopt;
    }
    Failures& failures = found->second;
    forgetOld(failures, now);
    if (failures.size() < most_) {
        if (failures.empty()) {
            keys_.erase(found);
        }
        return std::nullopt;
    }
    // Free again once the oldest of the last `most_` leaves the window.
    const auto freeAt = failures[failures.size() - most_].at + window_;
    const auto wait = std::chrono::ceil<std::chrono::seconds>(freeAt - now);
    return std::max(wait, std::chrono::seconds(1));
}

void FailureTally::add(const std::string& key, std::uint64_t attempt, const std::string& other,
                       Time now) {
    if (keys_.find(key) == keys_.end() && keys_.size() >= capacity_) {
        makeRoom(now);
    }
    Failures& failures = keys_[key];
    forgetOld(failures, now);
    failures.push_back(Failure{now, attempt, other});
    // Only the last `most_` decide when the key is free again.
    while (failures.size() > most_) {
        failures.pop_front();
    }
}

template <typename Predicate>
void FailureTally::removeIf(const std::string& key, Predicate taken) {
    const auto found = keys_.find(key);
    if (found == keys_.end()) {
        return;
    }
    Failures& failures = found->second;
    failures.erase(std::remove_if(failures.begin(), failures.end(), taken), failures.end());
    if (failures.empty()) {
        keys_.erase(found);
    }
}

void FailureTally::removeAttempt(const std::string& key, std::uint64_t attempt) {
    removeIf(key, [&](const Failure& failure) { return failure.attempt == attempt; });
}

void FailureTally::removeOther(const std::string& key, const std::string& other) {
    removeIf(key, [&](const Failure& failure) { return failure.other == other; });
}

void FailureTally::makeRoom(Time now) {
    for (auto entry = keys_.begin(); entry != keys_.end();) {
        forgetOld(entry->second, now);
        entry = entry->second.empty() ? keys_.erase(entry) : std::next(entry);
    }
    if (keys_.size() < capacity_) {
        return;
    }
    const auto oldest = std::min_element(
        keys_.begin(), keys_.end(),
        [](const auto& a, const auto& b) { return a.second.back().at < b.second.back().at; });
    keys_.erase(oldest);
}

}  // namespace panelhost
