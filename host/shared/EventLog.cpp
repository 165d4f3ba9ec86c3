#include "EventLog.h"

#include <algorithm>

#include "UtcTime.h"

namespace panelhost {

EventLog::EventLog(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

long long EventLog::add(int instance, const std::string& kind, const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    const long long sequence = ++last_;
    entries_.push_back(LogEntry{sequence, utcNow(), instance, kind, text});
    if (entries_.size() > capacity_) {
        entries_.pop_front();
    }
    const LogEntry entry = entries_.back();
    handedOn_.wait(lock, [this, sequence] { return lastHandedOn_ == sequence - 1; });
    lock.unlock();
    try {
        for (const Listener& listener : listeners_) {
            listener(entry);
        }
    } catch (...) {
        handOn(sequence);  // a later entry must not wait for this one forever
        throw;
    }
    handOn(sequence);
    return sequence;
}

void EventLog::handOn(long long sequence) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        lastHandedOn_ = sequence;
    }
    handedOn_.notify_all();
}

std::vector<LogEntry> EventLog::since(long long after, std::size_t limit) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LogEntry> result;
    const auto first = std::upper_bound(
        entries_.begin(), entries_.end(), after,
        [](long long sequence, const LogEntry& entry) { return sequence < entry.sequence; });
    for (auto it = first; it != entries_.end() && result.size() < limit; ++it) {
        result.push_back(*it);
    }
    return result;
}

void EventLog::addListener(Listener listener) {
    const std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back(std::move(listener));
}

}  // namespace panelhost
