#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace panelhost {

// Failed attempts counted under keys (a client's address, an account's
// name) within a sliding window: a key with `most` failures within the
// last `window` is refused until the oldest of them leaves the window.
// Each failure carries the attempt it belongs to and that attempt's other
// key (for an address the account tried, for an account the address it was
// tried from), so that a success takes back exactly what it should. At most
// `capacity` keys are kept, each with at most `most` failures (none is
// added to a refused key); past that the key whose last failure is oldest
// is forgotten first. Not thread-safe: its owner (LoginLimiter) calls it
// under its own lock.
class FailureTally {
  public:
    using Time = std::chrono::steady_clock::time_point;

    FailureTally(std::size_t most, std::chrono::seconds window, std::size_t capacity);

    // Nothing when `key` may try at `now`; otherwise how long it has to wait
    // (at least a second).
    std::optional<std::chrono::seconds> wait(const std::string& key, Time now);
    // Counts a failure of `attempt` under `key` at `now`; `other` is the
    // attempt's other key. Only for a key that wait() just let try.
    void add(const std::string& key, std::uint64_t attempt, const std::string& other, Time now);
    // Takes back the failure of `attempt` under `key`, if still kept.
    void removeAttempt(const std::string& key, std::uint64_t attempt);
    // Takes back every failure under `key` whose other key is `other`.
    void removeOther(const std::string& key, const std::string& other);

  private:
    struct Failure {
        Time at;
        std::uint64_t attempt = 0;
        std::string other;
    };
    using Failures = std::deque<Failure>;

    void forgetOld(Failures& failures, Time now) const;
    void makeRoom(Time now);
    template <typename Predicate>
    void removeIf(const std::string& key, Predicate taken);

    const std::size_t most_;
    const std::chrono::seconds window_;
    const std::size_t capacity_;
    std::map<std::string, Failures> keys_;
};

}  // namespace panelhost
