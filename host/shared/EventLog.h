#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace panelhost {

// One line of the log. `instance` is the panel instance it concerns, 0 for
// the host itself. `kind` is one of: command, answer, release, notify,
// event, message, debug, tsl, info, warning, error.
struct LogEntry {
    long long sequence = 0;
    std::string time;  // UTC, ISO 8601 with milliseconds
    int instance = 0;
    std::string kind;
    std::string text;
};

// Everything the host did, in order, in a bounded ring: the oldest entries
// make room for new ones. Thread-safe.
class EventLog {
  public:
    using Listener = std::function<void(const LogEntry&)>;

    explicit EventLog(std::size_t capacity);

    // Appends an entry and returns its sequence number (from 1).
    long long add(int instance, const std::string& kind, const std::string& text);

    // Entries with a sequence number above `after`, oldest first, at most `limit`.
    std::vector<LogEntry> since(long long after, std::size_t limit) const;

    // Called for every entry on the thread that adds it, one entry at a time
    // in sequence order, without the log locked (so readers never wait for
    // a listener). An add() returns once its entry's listeners are done and
    // waits for those of earlier entries: a listener must be quick and must
    // not write to the log. Add listeners before any other thread uses the
    // log.
    void addListener(Listener listener);

  private:
    void handOn(long long sequence);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable handedOn_;
    std::deque<LogEntry> entries_;
    long long last_ = 0;
    // The last entry whose listeners have all been called.
    long long lastHandedOn_ = 0;
    std::vector<Listener> listeners_;
};

}  // namespace panelhost
