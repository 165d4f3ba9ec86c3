// Guessing passwords at a running panelhost, the ways an attacker on the
// studio network would: between logins of an account of their own, from
// IPv4 clients of a host that serves IPv6 as well, many guesses at once,
// from many addresses at one account, and with a first-start login link
// kept from before the admin had a password. Each client address here is
// one of the loopback network's (127.x.y.z), so every server listens on
// loopback only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "LoopbackClient.h"
#include "TempFolder.h"

namespace {

// Failed logins one address may make within a minute; the host's own
// numbers, which these tests pin as the documented behaviour.
constexpr int kAddressFailures = 5;
// Failed logins at one account, from any addresses, within a minute.
constexpr int kAccountFailures = 20;
constexpr const char* kAdminPassword = "the admin password";
constexpr const char* kAdaPassword = "the password of ada";

int statusOf(const std::string& reply) {
    return reply.size() > 9 ? std::atoi(reply.c_str() + 9) : 0;
}

std::string headerOf(const std::string& reply, const std::string& name) {
    const std::size_t at = reply.find("\r\n" + name + ": ");
    if (at == std::string::npos || at > reply.find("\r\n\r\n")) {
        return "";
    }
    const std::size_t start = at + name.size() + 4;
    return reply.substr(start, reply.find("\r\n", start) - start);
}

class LoginGuessing : public ::testing::Test {
  protected:
    // A host whose accounts `admin` and `ada` (an operator) have passwords,
    // serving on `bind`.
    void start(const std::string& bind = "127.0.0.1") {
        HostProcess::Setup setup(folder_.path() / "data");
        setup.bind = bind;
        ASSERT_EQ(HostProcess::command(setup.data, "user add admin --role admin", kAdminPassword),
                  0);
        ASSERT_EQ(HostProcess::command(setup.data, "user add ada --role operator", kAdaPassword),
                  0);
        host_ = std::make_unique<HostProcess>(setup, folder_.path() / "host.log");
        ASSERT_TRUE(host_->waitUntilServing()) << host_->output();
    }

    // The status of POST /api/login as `name` with `password` from `from`.
    int login(const std::string& name, const std::string& password,
              const std::string& from = "127.0.0.1") {
        return statusOf(loginReply(name, password, from));
    }

    std::string loginReply(const std::string& name, const std::string& password,
                           const std::string& from) {
        const std::string body = R"({"name": ")" + name + R"(", "password": ")" + password + "\"}";
        return LoopbackClient::exchange(
            host_->port(),
            "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(host_->port()) +
                "\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body,
            from);
    }

    TempFolder folder_;
    std::unique_ptr<HostProcess> host_;
};

// Logging in to an account of one's own between guesses at another's does
// not earn more guesses: a login clears only its own account's failures.
TEST_F(LoginGuessing, ALoginOfOnesOwnDoesNotBuyMoreGuesses) {
    start();
    int checked = 0;
    for (int round = 0; round < 3; ++round) {
        for (int guess = 0; guess < kAddressFailures - 1; ++guess) {
            const int status = login("admin", "guess " + std::to_string(round * 10 + guess));
            EXPECT_TRUE(status == 401 || status == 429) << status;
            checked += status == 401 ? 1 : 0;
        }
        login("ada", kAdaPassword);
    }
    EXPECT_EQ(checked, kAddressFailures);
    EXPECT_EQ(login("ada", kAdaPassword), 429) << "the address is slowed for every account";
}

// A host serving IPv6 and IPv4 on one socket sees IPv4 clients as
// ::ffff:a.b.c.d; each still counts by its own address, not as one IPv6
// network of all of them.
TEST_F(LoginGuessing, IPv4ClientsOfADualStackHostCountEachByItsAddress) {
    start("::ffff:127.0.0.1");
    for (int guess = 0; guess < kAddressFailures; ++guess) {
        EXPECT_EQ(login("admin", "guess " + std::to_string(guess), "127.0.0.2"), 401);
    }
    const std::string slowed = loginReply("admin", kAdminPassword, "127.0.0.2");
    EXPECT_EQ(statusOf(slowed), 429);
    EXPECT_GE(std::atoi(headerOf(slowed, "Retry-After").c_str()), 1) << slowed;
    EXPECT_EQ(login("admin", kAdminPassword, "127.0.0.1"), 200);
}

// Guesses sent all at once are checked no more often than one after the
// other: the limit is taken before a password is checked.
TEST_F(LoginGuessing, ParallelGuessesAreCheckedOnlyUpToTheLimit) {
    start();
    constexpr int kAtOnce = 40;
    std::vector<std::future<int>> answers;
    for (int guess = 0; guess < kAtOnce; ++guess) {
        answers.push_back(std::async(std::launch::async, [this, guess] {
            return login("admin", "guess " + std::to_string(guess));
        }));
    }
    int checked = 0;
    int slowed = 0;
    for (auto& answer : answers) {
        const int status = answer.get();
        checked += status == 401 ? 1 : 0;
        slowed += status == 429 ? 1 : 0;
    }
    EXPECT_EQ(checked, kAddressFailures);
    EXPECT_EQ(slowed, kAtOnce - kAddressFailures);
}

// Guesses at one account from many addresses, each under its own limit,
// slow that account's logins (even with the right password) and no other.
TEST_F(LoginGuessing, GuessesFromManyAddressesSlowTheAccount) {
    start();
    int address = 10;
    for (int guess = 0; guess < kAccountFailures; ++guess) {
        if (guess % (kAddressFailures - 1) == 0) {
            ++address;
        }
        EXPECT_EQ(
            login("Admin", "guess " + std::to_string(guess), "127.0.0." + std::to_string(address)),
            401)
            << guess;
    }
    const std::string slowed = loginReply("admin", kAdminPassword, "127.0.0.1");
    EXPECT_EQ(statusOf(slowed), 429) << slowed;
    EXPECT_GE(std::atoi(headerOf(slowed, "Retry-After").c_str()), 1) << slowed;
    EXPECT_EQ(login("ada", kAdaPassword, "127.0.0.1"), 200);
}

// The first start's one-time link is worth something only while no
// account has a password, and only the link of the latest start works.
TEST(FirstStartLink, WorksOnlyUntilAPasswordOrTheNextStart) {
    TempFolder folder;
    const HostProcess::Setup setup(folder.path() / "data");
    // The path and query of the link the host printed at its start.
    const auto startAndTakeLink = [&](HostProcess& host) {
        EXPECT_TRUE(host.waitUntilServing()) << host.output();
        EXPECT_TRUE(host.waitForOutput("then give admin a password")) << host.output();
        const std::string text = host.output();
        const std::size_t at = text.find("/login?once=");
        return at == std::string::npos ? std::string()
                                       : text.substr(at, text.find_first_of(" \n", at) - at);
    };
    // Whether opening `link` logs in (a session cookie and the way to the
    // panels) rather than leading to the login page.
    const auto opens = [](HostProcess& host, const std::string& link) {
        const std::string reply = LoopbackClient::exchange(
            host.port(), "GET " + link + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                             std::to_string(host.port()) + "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(statusOf(reply), 303) << reply;
        return headerOf(reply, "Location") == "/" &&
               headerOf(reply, "Set-Cookie").find("panelhost_session=") == 0;
    };

    std::string first;
    {
        HostProcess host(setup, folder.path() / "first.log");
        first = startAndTakeLink(host);
        ASSERT_FALSE(first.empty()) << host.output();
        EXPECT_EQ(host.stop(), 0);
    }
    std::string second;
    {
        HostProcess host(setup, folder.path() / "second.log");
        second = startAndTakeLink(host);
        ASSERT_FALSE(second.empty()) << host.output();
        EXPECT_NE(second, first);
        EXPECT_FALSE(opens(host, first)) << "a restart voids the links printed before";
        EXPECT_EQ(host.stop(), 0);
    }
    ASSERT_EQ(HostProcess::command(setup.data, "user passwd admin", kAdminPassword), 0);
    HostProcess host(setup, folder.path() / "third.log");
    ASSERT_TRUE(host.waitUntilServing()) << host.output();
    EXPECT_EQ(host.output().find("login?once="), std::string::npos);
    EXPECT_FALSE(opens(host, second)) << "a password voids every link";
}

}  // namespace
