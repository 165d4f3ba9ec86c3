#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "EventLog.h"

namespace panelhost {

// Whether the host's PostgreSQL store is reachable, as the connection that
// listens for other hosts' writes (StoreListener) finds it: the server it
// is connected to (the primary, when the URL lists several), since when it
// is away and why, and how often it was connected again. Logs once that
// the store is away and once that it is back, with how long it was away.
// Any thread may read it; the listener's thread reports to it. Never calls
// the log with its lock held. The log must outlive it.
class StoreHealth {
  public:
    using Clock = std::chrono::steady_clock;

    struct State {
        // Nothing while the store is connected.
        std::optional<std::string> away;
        // host:port of the connection made last; empty before the first.
        std::string server;
        // Connections made after the first.
        std::uint64_t reconnections = 0;
    };

    explicit StoreHealth(EventLog& log) : log_(log) {}

    StoreHealth(const StoreHealth&) = delete;
    StoreHealth& operator=(const StoreHealth&) = delete;

    // A connection to `location` (postgresql://user@host:port/db) at
    // `server` (host:port) was made.
    void connected(const std::string& location, const std::string& server);
    // The store cannot be reached, because of `reason` (already on one line).
    void lost(const std::string& reason);

    State state() const;

  private:
    EventLog& log_;
    mutable std::mutex mutex_;
    State state_;
    bool everConnected_ = false;
    Clock::time_point awaySince_;
};

}  // namespace panelhost
