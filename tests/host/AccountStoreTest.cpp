// Accounts, tokens, sessions and one-time logins in the data file, and the
// first-start rules built on them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "AccountStore.h"
#include "DeviceCatalog.h"
#include "FirstStart.h"
#include "NameSeed.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

namespace {

using panelhost::AccountError;
using panelhost::AccountStore;
using panelhost::FirstStart;
using panelhost::Role;
using panelhost::SqliteNameStore;

constexpr const char* kPassword = "correct horse battery";

std::string contents(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// A data file as a running host holds it (its name store open), with a
// clock the test moves.
class AccountStoreTest : public ::testing::Test {
  protected:
    AccountStoreTest()
        : file_(folder_.path() / "panelhost.db"),
          names_(file_, panelhost::NameSeed::forCatalog(panelhost::DeviceCatalog::defaults())) {}

    std::unique_ptr<AccountStore> open() {
        return std::make_unique<AccountStore>(file_, kIdle, [this] { return now_; });
    }
    // Everything the data file and its write-ahead log hold, as bytes.
    std::string stored() const { return contents(file_) + contents(file_.string() + "-wal"); }

    static constexpr std::chrono::seconds kIdle{3600};
    TempFolder folder_;
    std::filesystem::path file_;
    SqliteNameStore names_;
    std::chrono::system_clock::time_point now_ =
        std::chrono::system_clock::time_point{} + std::chrono::hours(24 * 365 * 50);
};

TEST_F(AccountStoreTest, AccountsAndTokensRoundTripAndNoSecretIsStored) {
    const auto accounts = open();
    accounts->addAccount("alice", Role::Engineer, kPassword);
    EXPECT_THROW(accounts->addAccount("ALICE", Role::Viewer, kPassword), AccountError);
    EXPECT_THROW(accounts->addAccount("bob", Role::Viewer, "short"), AccountError);
    EXPECT_THROW(accounts->addAccount("bob smith", Role::Viewer, kPassword), AccountError);

    const auto alice = accounts->verifyPassword("alice", kPassword);
    ASSERT_TRUE(alice);
    EXPECT_EQ(alice->name, "alice");
    EXPECT_EQ(alice->role, Role::Engineer);
    EXPECT_FALSE(accounts->verifyPassword("alice", "correct horse battery!"));
    EXPECT_FALSE(accounts->verifyPassword("nobody", kPassword));

    const auto token = accounts->createToken(Role::Operator, "monitoring");
    EXPECT_EQ(token.token.rfind(AccountStore::kTokenPrefix, 0), 0u);
    EXPECT_THROW(accounts->createToken(Role::Viewer, "monitoring"), AccountError);
    const auto unnamed = accounts->createToken(Role::Viewer, "");
    EXPECT_EQ(unnamed.name.rfind("viewer-", 0), 0u) << unnamed.name;

    // A second connection, as `panelhost token ...` beside a running host.
    const auto other = open();
    const auto scripted = other->verifyToken(token.token);
    ASSERT_TRUE(scripted);
    EXPECT_EQ(scripted->who(), "token monitoring");
    EXPECT_EQ(scripted->role, Role::Operator);
    EXPECT_FALSE(other->verifyToken(token.token + "x"));
    EXPECT_EQ(other->tokens().size(), 2u);

    const std::string bytes = stored();
    EXPECT_EQ(bytes.find(kPassword), std::string::npos);
    EXPECT_EQ(bytes.find(token.token), std::string::npos);
    EXPECT_EQ(bytes.find(unnamed.token), std::string::npos);

    other->revokeToken("monitoring");
    EXPECT_FALSE(accounts->verifyToken(token.token));
    EXPECT_THROW(accounts->revokeToken("monitoring"), AccountError);
}

TEST_F(AccountStoreTest, SessionsEndWhenIdleOnLogoutAndOnANewPassword) {
    const auto accounts = open();
    accounts->addAccount("olga", Role::Operator, kPassword);
    EXPECT_FALSE(accounts->login("olga", "wrong password"));
    const auto first = accounts->login("olga", kPassword);
    ASSERT_TRUE(first);
    EXPECT_EQ(stored().find(first->id), std::string::npos);

    // Used just inside the idle time, twice: each use keeps it alive.
    for (int i = 0; i < 2; ++i) {
        now_ += kIdle - std::chrono::seconds(1);
        const auto identity = accounts->session(first->id);
        ASSERT_TRUE(identity) << "use " << i;
        EXPECT_EQ(identity->role, Role::Operator);
    }
    now_ += kIdle + std::chrono::seconds(1);
    EXPECT_FALSE(accounts->session(first->id));
    now_ -= kIdle;  // over is over, also for a clock that goes back
    EXPECT_FALSE(accounts->session(first->id));

    const auto second = accounts->login("olga", kPassword);
    const auto third = accounts->login("olga", kPassword);
    ASSERT_TRUE(second && third);
    accounts->logout(second->id);
    EXPECT_FALSE(accounts->session(second->id));
    EXPECT_TRUE(accounts->session(third->id));
    accounts->setPassword("olga", "a new password");
    EXPECT_FALSE(accounts->session(third->id));
    EXPECT_FALSE(accounts->verifyPassword("olga", kPassword));
    EXPECT_TRUE(accounts->verifyPassword("olga", "a new password"));
}

TEST_F(AccountStoreTest, TheFirstStartAdminLogsInOnceUntilItHasAPassword) {
    const auto accounts = open();
    FirstStart::createAdmin(*accounts);
    FirstStart::createAdmin(*accounts);
    ASSERT_EQ(accounts->accounts().size(), 1u);
    EXPECT_EQ(accounts->accounts()[0].role, Role::Admin);
    EXPECT_FALSE(accounts->accounts()[0].hasPassword);
    EXPECT_FALSE(accounts->verifyPassword("admin", ""));

    EXPECT_TRUE(FirstStart::refusal(*accounts, "0.0.0.0"));
    EXPECT_TRUE(FirstStart::refusal(*accounts, "192.0.2.7"));
    EXPECT_FALSE(FirstStart::refusal(*accounts, "127.0.0.1"));

    const std::string url = "http://127.0.0.1:8080/";
    const auto link = FirstStart::loginLink(*accounts, url);
    ASSERT_TRUE(link);
    const std::string prefix = url + "login?once=";
    ASSERT_EQ(link->rfind(prefix, 0), 0u) << *link;
    const std::string secret = link->substr(prefix.size());
    EXPECT_EQ(stored().find(secret), std::string::npos);

    const auto session = accounts->loginOnce(secret);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->identity.name, "admin");
    EXPECT_EQ(accounts->session(session->id)->role, Role::Admin);
    EXPECT_FALSE(accounts->loginOnce(secret)) << "a one-time login works once";

    // A link not used in time is worthless, and a new one replaces it.
    const std::string late = accounts->issueOnceLogin("admin");
    const std::string replaced = accounts->issueOnceLogin("admin");
    EXPECT_FALSE(accounts->loginOnce(late));
    now_ += AccountStore::kOnceLoginLifetime + std::chrono::seconds(1);
    EXPECT_FALSE(accounts->loginOnce(replaced));

    EXPECT_THROW(accounts->removeAccount("admin"), AccountError) << "the last admin stays";
    accounts->setPassword("admin", kPassword);
    EXPECT_FALSE(FirstStart::refusal(*accounts, "0.0.0.0"));
    EXPECT_FALSE(FirstStart::loginLink(*accounts, url));
}

TEST(AccountStore, RefusesAFileThatIsNotAPanelhostDataFile) {
    TempFolder folder;
    EXPECT_THROW(AccountStore(folder.path() / "missing.db"), panelhost::StoreError);
    const auto foreign = folder.write("foreign.db", "my shopping list\n");
    EXPECT_THROW(AccountStore{foreign}, panelhost::StoreError);
    EXPECT_EQ(contents(foreign), "my shopping list\n");
}

}  // namespace
