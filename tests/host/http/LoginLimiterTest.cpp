// The login limiter with a clock the tests move: when an address or an
// account is slowed and for how long, what a success takes back, what is
// counted before a check, and the bound on what it remembers. (What counts
// as one client, and the limits in a running host: tests/host-faults.)
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <variant>
#include <vector>

#include "LoginLimiter.h"

namespace {

using panelhost::LoginLimiter;
using panelhost::LoginLimits;
using std::chrono::seconds;

class LoginLimiterTest : public ::testing::Test {
  protected:
    LoginLimiter make(LoginLimits limits) {
        return LoginLimiter(limits, [this] { return now_; });
    }

    // Tries a login that fails (or, `right`, succeeds); the refusal's wait,
    // 0 when it was let through, negative for the account's limit.
    static int attempt(LoginLimiter& limiter, const std::string& address, const std::string& name,
                       bool right = false) {
        auto reserved = limiter.reserve(address, name);
        if (auto* refused = std::get_if<LoginLimiter::Refusal>(&reserved)) {
            return static_cast<int>(refused->account ? -refused->wait.count()
                                                     : refused->wait.count());
        }
        auto& attempt = std::get<LoginLimiter::Attempt>(reserved);
        right ? attempt.succeeded() : static_cast<void>(attempt.failed());
        return 0;
    }

    std::chrono::steady_clock::time_point now_ =
        std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
};

TEST_F(LoginLimiterTest, SlowsAnAddressOrAnAccountUntilItsOldestFailureIsAMinuteOld) {
    LoginLimiter limiter = make(LoginLimits{3, 6, seconds(60), 100, 100});
    for (const char* name : {"admin", "ada", "admin"}) {
        EXPECT_EQ(attempt(limiter, "192.0.2.7", name), 0);
        now_ += seconds(10);
    }
    // Failures at 0, 10 and 20 s; now 30 s: free when the first is 60 s old,
    // even for the right password.
    EXPECT_EQ(attempt(limiter, "192.0.2.7", "ada", true), 30);
    now_ += seconds(30);
    // Ada's success takes back her own failure there, not admin's.
    EXPECT_EQ(attempt(limiter, "192.0.2.7", "ADA", true), 0);
    EXPECT_EQ(attempt(limiter, "192.0.2.7", "admin"), 0);
    EXPECT_EQ(attempt(limiter, "192.0.2.7", "admin"), 0);
    EXPECT_EQ(attempt(limiter, "192.0.2.7", "admin"), 20);

    // Admin has 3 failures within the minute; 3 more from one IPv6 /64,
    // which is one client, fill the account's limit for every address.
    EXPECT_EQ(attempt(limiter, "2001:db8::1", "Admin"), 0);
    EXPECT_EQ(attempt(limiter, "2001:db8::ffff:2", "admin"), 0);
    EXPECT_EQ(attempt(limiter, "2001:db8::3", "admin"), 0);
    EXPECT_EQ(attempt(limiter, "2001:db8::4", "ada"), 60);
    EXPECT_EQ(attempt(limiter, "2001:db8:0:1::4", "ada"), 0);
    EXPECT_EQ(attempt(limiter, "198.51.100.1", "admin", true), -20);
    EXPECT_EQ(attempt(limiter, "198.51.100.1", "ada", true), 0);
    now_ += seconds(20);
    EXPECT_EQ(attempt(limiter, "198.51.100.1", "admin", true), 0);
}

// A login is counted from when it is reserved, so that logins at once get
// no more checks than logins in a row; one never checked (the store was
// away) is taken back. Only the reservation that fills an account's limit
// says so. Past the most addresses or names kept, the one whose last
// failure is oldest is forgotten first.
TEST_F(LoginLimiterTest, CountsWhatIsUnderWayAndStaysBounded) {
    LoginLimiter limiter = make(LoginLimits{3, 4, seconds(60), 2, 2});
    {
        std::vector<LoginLimiter::Attempt> underWay;
        for (int i = 0; i < 3; ++i) {
            auto reserved = limiter.reserve("192.0.2.7", "admin");
            ASSERT_TRUE(std::holds_alternative<LoginLimiter::Attempt>(reserved));
            underWay.push_back(std::move(std::get<LoginLimiter::Attempt>(reserved)));
        }
        EXPECT_EQ(attempt(limiter, "192.0.2.7", "admin"), 60);
    }
    auto first = limiter.reserve("192.0.2.7", "admin");
    auto second = limiter.reserve("192.0.2.8", "admin");
    auto third = limiter.reserve("192.0.2.8", "admin");
    auto filling = limiter.reserve("192.0.2.8", "admin");
    EXPECT_FALSE(std::get<LoginLimiter::Attempt>(first).failed());
    EXPECT_FALSE(std::get<LoginLimiter::Attempt>(third).failed());
    EXPECT_TRUE(std::get<LoginLimiter::Attempt>(filling).failed());
    EXPECT_EQ(attempt(limiter, "192.0.2.9", "admin"), -60);

    // Two addresses and two names kept: the oldest go first.
    now_ += seconds(1);
    EXPECT_EQ(attempt(limiter, "192.0.2.9", "b"), 0);
    EXPECT_EQ(attempt(limiter, "192.0.2.7", "c"), 0);
    EXPECT_EQ(attempt(limiter, "192.0.2.10", "admin"), 0);
}

}  // namespace
