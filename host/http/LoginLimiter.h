#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace panelhost {

// Slows password guessing: a client address with `failures` failed logins
// within the last `window` is refused until the oldest of them leaves the
// window (answer 429 with Retry-After: the seconds retryAfter() gives). A
// successful login clears the address. IPv6 clients count by their /64
// network, which one machine can fill with addresses. At most kMostClients
// addresses are remembered; past that the one whose last failure is oldest
// is forgotten first. Thread-safe.
class LoginLimiter {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Enough for a few typing mistakes, few enough to stop guessing.
    static constexpr int kDefaultFailures = 5;
    static constexpr std::chrono::seconds kDefaultWindow{60};
    // Bounds the memory a flood of addresses can take.
    static constexpr std::size_t kMostClients = 10000;

    explicit LoginLimiter(int failures = kDefaultFailures,
                          std::chrono::seconds window = kDefaultWindow,
                          Clock clock = std::chrono::steady_clock::now);

    // Nothing when the address may try to log in; otherwise how long it has
    // to wait (at least a second).
    std::optional<std::chrono::seconds> retryAfter(const std::string& address);
    void failed(const std::string& address);
    void succeeded(const std::string& address);

  private:
    using Failures = std::deque<std::chrono::steady_clock::time_point>;

    void forgetOld(Failures& failures, std::chrono::steady_clock::time_point now) const;
    void makeRoom(std::chrono::steady_clock::time_point now);

    const std::size_t failures_;
    const std::chrono::seconds window_;
    const Clock clock_;
    std::mutex mutex_;
    std::map<std::string, Failures> clients_;
};

}  // namespace panelhost
