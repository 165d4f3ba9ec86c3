#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <variant>

#include "FailureTally.h"

namespace panelhost {

// How many failed logins a LoginLimiter lets through within its window, and
// how much it remembers.
struct LoginLimits {
    // From one client address: enough for a few typing mistakes, few enough
    // to stop guessing.
    std::size_t perAddress = 5;
    // At one account, from all addresses together: four addresses' worth, so
    // that one person's typing mistakes never slow the account, while
    // guessing from many addresses gets no more than this many tries a
    // window at it. It is a lock-out that anybody can cause (every login to
    // the account, even with the right password, is refused while it
    // lasts), so it keeps the address's short window and lasts only as long
    // as somebody keeps failing from several addresses.
    std::size_t perAccount = 20;
    // Both counts are of the failures within the last minute.
    std::chrono::seconds window{60};
    // Bound the memory that a flood of addresses or of made-up names can
    // take: far more than a facility has clients or accounts. Each address
    // keeps at most `perAddress` failures and each name at most `perAccount`.
    std::size_t mostAddresses = 10000;
    std::size_t mostAccounts = 2000;
};

// Slows password guessing. A login is reserved before its password is
// checked and counts as a failure from then on, so that logins sent at once
// are checked no more often than logins sent one after the other:
// - a client address with `perAddress` failures within the window is
//   refused until the oldest of them leaves the window; IPv6 clients count
//   by their /64 network, which one machine can fill with addresses, and an
//   IPv4 client reaching a dual-stack socket (::ffff:a.b.c.d) by its IPv4
//   address;
// - an account name (any name tried, known or not, without regard to case)
//   with `perAccount` failures within the window, from whichever
//   addresses, is refused likewise;
// - a successful login takes back only the failures of its own account from
//   its own address: logging in to an account of one's own does not buy
//   guesses at another.
// Thread-safe.
class LoginLimiter {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Why a login may not be tried now, and for how long (at least a second).
    struct Refusal {
        std::chrono::seconds wait;
        // The account's limit, not the address's.
        bool account = false;
    };

    // A login that reserve() let through: counted as a failure until
    // succeeded(). Left unsettled (the password could not be checked: the
    // store was away), it is taken back when it goes. Must not outlive its
    // limiter; one thread at a time.
    class Attempt {
      public:
        Attempt(Attempt&& other) noexcept;
        Attempt& operator=(Attempt&&) = delete;
        Attempt(const Attempt&) = delete;
        Attempt& operator=(const Attempt&) = delete;
        ~Attempt();

        // The password was wrong; true when this failure filled the
        // account's limit (so that the lock-out is logged once).
        bool failed();
        // The password was right: takes back the failures of this account
        // from this address, and no others.
        void succeeded();

      private:
        friend class LoginLimiter;
        Attempt(LoginLimiter& limiter, std::uint64_t id, std::string address, std::string account,
                bool fillsAccount);

        // Null once settled or moved from.
        LoginLimiter* limiter_;
        std::uint64_t id_;
        std::string address_;
        std::string account_;
        bool fillsAccount_;
    };

    explicit LoginLimiter(LoginLimits limits = {}, Clock clock = std::chrono::steady_clock::now);

    // Reserves a login as `name` from `address` (as the connection gives
    // it), or says why it is refused.
    std::variant<Attempt, Refusal> reserve(const std::string& address, const std::string& name);
    const LoginLimits& limits() const { return limits_; }

  private:
    void cancel(const Attempt& attempt);
    void succeeded(const Attempt& attempt);

    const LoginLimits limits_;
    const Clock clock_;
    std::mutex mutex_;
    FailureTally addresses_;
    FailureTally accounts_;
    std::uint64_t lastAttempt_ = 0;
};

}  // namespace panelhost
