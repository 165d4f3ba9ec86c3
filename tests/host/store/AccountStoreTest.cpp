// Accounts, tokens, sessions and one-time logins in each kind of store, and
// the first-start rules built on them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "AccountStore.h"
#include "DeviceCatalog.h"
#include "FirstStart.h"
#include "IdentityTable.h"
#include "NameSeed.h"
#include "PostgresAccountStore.h"
#include "PostgresNameStore.h"
#include "PostgresTestDatabase.h"
#include "RememberedIdentities.h"
#include "SqliteAccountStore.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

namespace {

using panelhost::AccountError;
using panelhost::AccountStore;
using panelhost::FirstStart;
using panelhost::Identity;
using panelhost::PostgresAccountStore;
using panelhost::RememberedIdentities;
using panelhost::Role;
using panelhost::SeedData;
using panelhost::SqliteAccountStore;
using panelhost::SqliteNameStore;
using panelhost::StoreError;

constexpr const char* kPassword = "correct horse battery";

std::string contents(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// The account store contract, run against each kind of store: "sqlite" (a
// data file as a running host holds it, its name store open) always,
// "postgresql" (a database whose schema a host made) when
// PANELHOST_TEST_POSTGRES names a server; with a clock the test moves.
class AccountStoreContract : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        const SeedData seed = panelhost::NameSeed::forCatalog(panelhost::DeviceCatalog::defaults());
        if (!postgres()) {
            names_ = std::make_unique<SqliteNameStore>(file_, seed);
            return;
        }
        if (PostgresTestDatabase::server().empty()) {
            GTEST_SKIP() << "set " << PostgresTestDatabase::kVariable
                         << " to a throwaway server's URL to run this against PostgreSQL "
                            "(tests/store/run-postgres-test.sh does)";
        }
        ASSERT_NO_FATAL_FAILURE(database_.open("panelhost_accounts_"));
        names_ = std::make_unique<panelhost::PostgresNameStore>(database_.conninfo(), seed);
    }

    bool postgres() const { return GetParam() == "postgresql"; }

    // Another connection to the test's store, as another host or
    // `panelhost user ...` has.
    std::unique_ptr<AccountStore> open() {
        const AccountStore::Clock clock = [this] { return now_; };
        if (postgres()) {
            return std::make_unique<PostgresAccountStore>(database_.conninfo(), kIdle, clock);
        }
        return std::make_unique<SqliteAccountStore>(file_, kIdle, clock);
    }
    // Everything the store holds, as bytes (the file and its write-ahead
    // log) or as text (every row of the account tables).
    std::string stored() const {
        if (!postgres()) {
            return contents(file_) + contents(file_.string() + "-wal");
        }
        const panelhost::PostgresConnection db(database_.conninfo());
        std::string rows;
        for (const char* sql :
             {"SELECT t::text FROM panelhost.accounts t", "SELECT t::text FROM panelhost.tokens t",
              "SELECT t::text FROM panelhost.sessions t",
              "SELECT t::text FROM panelhost.once_logins t",
              "SELECT t::text FROM panelhost.account_changes t"}) {
            const panelhost::PostgresConnection::Result result = db.run("dump", sql);
            for (int row = 0; row < result.rows(); ++row) {
                rows += result.text(row, 0) + "\n";
            }
        }
        return rows;
    }
    // Ends every other connection to the test's database, as a server
    // restart does.
    void dropConnections() const {
        ASSERT_EQ(
            PostgresTestDatabase::run(database_.conninfo(),
                                      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                      "WHERE datname = current_database() AND pid <> "
                                      "pg_backend_pid()"),
            "");
    }

    static constexpr std::chrono::seconds kIdle{3600};
    PostgresTestDatabase database_;
    TempFolder folder_;
    std::filesystem::path file_ = folder_.path() / "panelhost.db";
    std::unique_ptr<panelhost::NameStore> names_;
    std::chrono::system_clock::time_point now_ =
        std::chrono::system_clock::time_point{} + std::chrono::hours(24 * 365 * 50);
};

INSTANTIATE_TEST_SUITE_P(Stores, AccountStoreContract, testing::Values("sqlite", "postgresql"),
                         [](const testing::TestParamInfo<std::string>& store) {
                             return store.param;
                         });

TEST_P(AccountStoreContract, AccountsAndTokensRoundTripAndNoSecretIsStored) {
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

    if (postgres()) {
        // A server restart ends the connections: a check connects again
        // and is answered, and so is a change whose transaction could not
        // begin (nothing of it can have been committed).
        ASSERT_NO_FATAL_FAILURE(dropConnections());
        EXPECT_TRUE(accounts->verifyToken(token.token));
    }
    other->revokeToken("monitoring");
    EXPECT_FALSE(accounts->verifyToken(token.token));
    EXPECT_THROW(accounts->revokeToken("monitoring"), AccountError);
}

TEST_P(AccountStoreContract, SessionsEndWhenIdleOnLogoutAndOnANewPassword) {
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
    open()->setPassword("olga", "a new password");
    EXPECT_FALSE(accounts->session(third->id)) << "ended by another host's password change";
    EXPECT_FALSE(accounts->verifyPassword("olga", kPassword));
    EXPECT_TRUE(accounts->verifyPassword("olga", "a new password"));
}

// A host checks tokens and sessions in its table in memory; what another
// host or `panelhost user ...` changes on the shared store is refused there
// within a second all the same.
TEST_P(AccountStoreContract, AHostsIdentityTableRefusesChangesMadeElsewhereWithinASecond) {
    const auto elsewhere = open();
    elsewhere->addAccount("olga", Role::Operator, kPassword);
    elsewhere->addAccount("ivan", Role::Viewer, kPassword);
    elsewhere->addAccount("nora", Role::Viewer, kPassword);
    const auto token = elsewhere->createToken(Role::Engineer, "monitoring");
    const auto olga = elsewhere->login("olga", kPassword);
    const auto ivan = elsewhere->login("ivan", kPassword);
    const auto nora = elsewhere->login("nora", kPassword);
    ASSERT_TRUE(olga && ivan && nora);

    const auto here = open();
    panelhost::IdentityTable table(*here, [this] { return now_; });
    ASSERT_TRUE(table.verifyToken(token.token));
    EXPECT_EQ(table.verifyToken(token.token)->role, Role::Engineer);
    EXPECT_FALSE(table.verifyToken(token.token)->remembered);
    EXPECT_EQ(table.session(olga->id)->name, "olga");
    EXPECT_EQ(table.session(ivan->id)->name, "ivan");
    EXPECT_FALSE(table.session("an unknown session"));
    EXPECT_FALSE(table.verifyToken("pht_unknown"));

    elsewhere->revokeToken("monitoring");
    elsewhere->setPassword("olga", "a new password");
    elsewhere->removeAccount("ivan");
    const auto changed = std::chrono::steady_clock::now();
    const auto refused = [&] {
        return !table.verifyToken(token.token) && !table.session(olga->id) &&
               !table.session(ivan->id);
    };
    while (!refused() && std::chrono::steady_clock::now() - changed < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(refused());
    EXPECT_LE(std::chrono::steady_clock::now() - changed, std::chrono::seconds(1));
    EXPECT_EQ(table.session(nora->id)->name, "nora") << "an unchanged session stays";
    const auto again = elsewhere->login("olga", "a new password");
    ASSERT_TRUE(again);
    EXPECT_EQ(table.session(again->id)->name, "olga") << "a session opened elsewhere just now";
}

// While a shared store's notices are followed the table reads the store
// again on each notice, not on the short timer; once they are lost, on the
// timer again. Both well within the safety net's interval.
TEST_P(AccountStoreContract, AHostsIdentityTableFollowsTheStoresNotices) {
    const auto elsewhere = open();
    elsewhere->addAccount("olga", Role::Operator, kPassword);
    const auto monitoring = elsewhere->createToken(Role::Engineer, "monitoring");
    const auto wall = elsewhere->createToken(Role::Viewer, "wall");
    const auto here = open();
    panelhost::IdentityTable table(*here, [this] { return now_; });
    const auto refusedSoon = [&](const std::string& token) {
        const auto start = std::chrono::steady_clock::now();
        while (table.verifyToken(token) && std::chrono::steady_clock::now() - start <
                                               panelhost::IdentityTable::kSafetyNet / 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return !table.verifyToken(token);
    };
    table.noticesFollowed();
    ASSERT_TRUE(table.verifyToken(monitoring.token));
    elsewhere->revokeToken("monitoring");
    table.accountsChanged();
    EXPECT_TRUE(refusedSoon(monitoring.token)) << "a notice reads the table again";

    table.noticesLost();
    ASSERT_TRUE(table.verifyToken(wall.token));
    elsewhere->revokeToken("wall");
    EXPECT_TRUE(refusedSoon(wall.token)) << "without notices the table is read on its timer";
}

// A token checked in the table is listed as used all the same: the table
// leaves a token whose use is due to be written down to the store.
TEST_P(AccountStoreContract, ATokenCheckedInTheTableIsListedAsUsed) {
    const auto accounts = open();
    const auto token = accounts->createToken(Role::Viewer, "wall");
    panelhost::IdentityTable table(*accounts, [this] { return now_; });
    ASSERT_TRUE(table.verifyToken(token.token));
    ASSERT_EQ(accounts->tokens().size(), 1u);
    EXPECT_FALSE(accounts->tokens()[0].lastUsed.empty());
}

TEST_P(AccountStoreContract, TheFirstStartAdminLogsInOnceUntilItHasAPassword) {
    const auto accounts = open();
    const auto other = open();
    // Two hosts starting together on one store: exactly one makes it.
    auto first = std::async(std::launch::async, [&] { return FirstStart::createAdmin(*accounts); });
    auto second = std::async(std::launch::async, [&] { return FirstStart::createAdmin(*other); });
    EXPECT_NE(first.get(), second.get());
    EXPECT_FALSE(FirstStart::createAdmin(*accounts));
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

    // Opened through another host, the session works on this one too.
    const auto session = other->loginOnce(secret);
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

    // Only the newest link works, whichever account it is for, and none once
    // some account has a password: a link issued before it is void, and so
    // is one issued after it.
    accounts->addAccount("deputy", Role::Admin, "");
    const std::string admins = accounts->issueOnceLogin("admin");
    const std::string deputys = other->issueOnceLogin("deputy");
    EXPECT_FALSE(accounts->loginOnce(admins));
    other->addAccount("ops", Role::Operator, kPassword);
    EXPECT_FALSE(accounts->loginOnce(deputys));
    EXPECT_FALSE(accounts->loginOnce(accounts->issueOnceLogin("admin")));
    accounts->setPassword("admin", kPassword);
    EXPECT_FALSE(FirstStart::refusal(*accounts, "0.0.0.0"));
    EXPECT_FALSE(FirstStart::loginLink(*accounts, url));
}

TEST_P(AccountStoreContract, RolesChangeAtTheNextRequestAndTheLastAdminStaysAnAdmin) {
    const auto accounts = open();
    const auto other = open();
    accounts->addAccount("ada", Role::Admin, kPassword);
    accounts->addAccount("bea", Role::Admin, kPassword);
    accounts->addAccount("olga", Role::Operator, kPassword);
    const auto session = accounts->login("olga", kPassword, "192.0.2.7");
    ASSERT_TRUE(session);
    const auto token = accounts->createToken(Role::Viewer, "wall");
    ASSERT_TRUE(accounts->verifyToken(token.token));

    // Made an engineer through another host: this one's next check of the
    // same session sees it, with no new login.
    other->setRole("olga", Role::Engineer, {"bea", "192.0.2.8"});
    EXPECT_EQ(accounts->session(session->id)->role, Role::Engineer);
    EXPECT_THROW(other->setRole("nobody", Role::Viewer), AccountError);

    // Two admins demoting each other at once, each through its own host:
    // one of them stays an admin, every time.
    for (int round = 0; round < 3; ++round) {
        auto first = std::async(std::launch::async, [&] {
            try {
                accounts->setRole("bea", Role::Operator);
                return true;
            } catch (const AccountError&) {
                return false;
            }
        });
        auto second = std::async(std::launch::async, [&] {
            try {
                other->setRole("ada", Role::Operator);
                return true;
            } catch (const AccountError&) {
                return false;
            }
        });
        EXPECT_NE(first.get(), second.get()) << "round " << round;
        std::vector<std::string> admins;
        for (const auto& account : accounts->accounts()) {
            if (account.role == Role::Admin) {
                admins.push_back(account.name);
            }
        }
        ASSERT_EQ(admins.size(), 1u) << "round " << round;
        EXPECT_THROW(accounts->removeAccount(admins[0]), AccountError);
        accounts->setRole("ada", Role::Admin);
        accounts->setRole("bea", Role::Admin);
    }

    // The account's own change keeps the session it is made in and ends
    // the others; a wrong old password changes nothing.
    now_ += std::chrono::seconds(1);
    const auto elsewhere = accounts->login("olga", kPassword, "192.0.2.9");
    ASSERT_TRUE(elsewhere);
    const auto listed = other->sessions("olga", session->id);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(listed[0].current);
    EXPECT_EQ(listed[0].address, "192.0.2.7");
    EXPECT_FALSE(listed[1].current);
    EXPECT_EQ(listed[1].id.find(elsewhere->id), std::string::npos);
    EXPECT_FALSE(accounts->changeOwnPassword("olga", "wrong password", "a newer password",
                                             session->id, {"olga", "192.0.2.7"}));
    EXPECT_TRUE(accounts->session(elsewhere->id));
    EXPECT_TRUE(accounts->changeOwnPassword("olga", kPassword, "a newer password", session->id,
                                            {"olga", "192.0.2.7"}));
    EXPECT_TRUE(accounts->session(session->id));
    EXPECT_FALSE(accounts->session(elsewhere->id));
    EXPECT_TRUE(accounts->verifyPassword("olga", "a newer password"));

    // An admin ends one session by its listed name, or all of them.
    now_ += std::chrono::seconds(1);
    const auto third = accounts->login("olga", "a newer password", "192.0.2.10");
    ASSERT_TRUE(third);
    const std::string thirdId = accounts->sessions("olga", third->id).back().id;
    EXPECT_TRUE(other->endSession("olga", thirdId, {"ada", "192.0.2.1"}));
    EXPECT_FALSE(other->endSession("olga", thirdId, {"ada", "192.0.2.1"}));
    EXPECT_FALSE(accounts->session(third->id));
    EXPECT_EQ(other->endSessions("olga", "", {"ada", "192.0.2.1"}), 1);
    EXPECT_FALSE(accounts->session(session->id));
    EXPECT_TRUE(accounts->sessions("olga").empty());
    EXPECT_FALSE(accounts->accounts().back().lastLogin.empty());
    accounts->revokeToken("wall", {"ada", "192.0.2.1"});

    // Every change is in the history, newest first, with who and where,
    // and no secret; a role that did not change is no change.
    const auto changes = other->changes(0, 100);
    std::vector<std::string> actions;
    for (const auto& change : changes) {
        actions.push_back(change.action + " " + change.subject);
    }
    EXPECT_EQ(actions.front(), "token-revoked wall");
    EXPECT_EQ(actions.back(), "account-added ada");
    const auto olga = std::find_if(changes.begin(), changes.end(), [](const auto& change) {
        return change.action == AccountStore::kRoleChanged && change.subject == "olga";
    });
    ASSERT_NE(olga, changes.end());
    EXPECT_EQ(olga->actor, "bea");
    EXPECT_EQ(olga->address, "192.0.2.8");
    EXPECT_EQ(olga->detail, "from operator to engineer");
    EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                            [](const auto& change) {
                                return change.action == AccountStore::kPasswordChanged;
                            }),
              1);
    EXPECT_EQ(other->changes(changes[1].id, 1).front().id, changes[2].id);
    const std::string bytes = stored();
    for (const std::string& secret : {std::string(kPassword), std::string("a newer password"),
                                      token.token, session->id, elsewhere->id}) {
        EXPECT_EQ(bytes.find(secret), std::string::npos);
    }
}

// What a store remembers of the tokens and sessions it verified, for while
// it cannot be reached: only within the grace after the last verification,
// nothing the store has ended since, and no more than it has room for, the
// least recently verified forgotten first. (Remembering on a check and the
// answers from memory are shown end to end in tests/scaleout.)
TEST(AccountStore, RemembersVerifiedIdentitiesForTheGraceOnly) {
    using std::chrono::seconds;
    const seconds grace = AccountStore::kIdentityGrace;
    RememberedIdentities remembered(grace, 3);
    const auto start = std::chrono::system_clock::time_point{} + std::chrono::hours(24);
    const RememberedIdentities::Hash token{1};
    const RememberedIdentities::Hash session{2};
    const RememberedIdentities::Hash otherSession{3};
    remembered.verified(token, Identity{"olga", Role::Viewer, true}, start);
    remembered.verified(session, Identity{"olga", Role::Operator, false}, start);
    remembered.verified(otherSession, Identity{"olga", Role::Operator, false}, start);

    const auto recalled = remembered.recall(token, start + grace);
    ASSERT_TRUE(recalled);
    EXPECT_TRUE(recalled->remembered);
    EXPECT_EQ(recalled->who(), "token olga");
    EXPECT_FALSE(remembered.recall(token, start + grace + seconds(1)));
    EXPECT_FALSE(remembered.recall(token, start - seconds(1))) << "a clock gone back";
    remembered.verified(token, Identity{"olga", Role::Viewer, true}, start + grace);
    EXPECT_TRUE(remembered.recall(token, start + 2 * grace)) << "a new check, a new grace";

    // A new password or the removal of the account "OLGA" ends her
    // sessions, not the token of the same name; a revoked token ends it.
    remembered.forgetNamed("OLGA", false);
    EXPECT_FALSE(remembered.recall(session, start));
    EXPECT_FALSE(remembered.recall(otherSession, start));
    EXPECT_TRUE(remembered.recall(token, start + grace));
    remembered.forget(token);
    EXPECT_FALSE(remembered.recall(token, start + grace));

    for (unsigned char client = 10; client < 14; ++client) {
        remembered.verified({client}, Identity{"viewer", Role::Viewer, false},
                            start + seconds(client));
    }
    EXPECT_EQ(remembered.size(), 3u);
    EXPECT_FALSE(remembered.recall({10}, start + seconds(20)));
    EXPECT_TRUE(remembered.recall({11}, start + seconds(20)));
    EXPECT_TRUE(remembered.recall({13}, start + seconds(20)));
}

TEST(AccountStore, RefusesAFileThatIsNotAPanelhostDataFile) {
    TempFolder folder;
    EXPECT_THROW(SqliteAccountStore(folder.path() / "missing.db"), StoreError);
    const auto foreign = folder.write("foreign.db", "my shopping list\n");
    EXPECT_THROW(SqliteAccountStore{foreign}, StoreError);
    EXPECT_EQ(contents(foreign), "my shopping list\n");
}

// A data file whose account tables an earlier panelhost made: the columns
// and the history that came later are added at the first open, and its
// accounts, tokens and sessions go on working.
TEST(AccountStore, ADataFileFromBeforeTheAccountHistoryGainsIt) {
    TempFolder folder;
    const auto file = folder.path() / "panelhost.db";
    const SqliteNameStore names(
        file, panelhost::NameSeed::forCatalog(panelhost::DeviceCatalog::defaults()));
    std::string token;
    std::string session;
    {
        SqliteAccountStore accounts(file);
        accounts.addAccount("olga", Role::Operator, kPassword);
        token = accounts.createToken(Role::Viewer, "wall").token;
        session = accounts.login("olga", kPassword)->id;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    for (const char* sql :
         {"DROP TABLE account_changes", "ALTER TABLE accounts DROP COLUMN last_login",
          "ALTER TABLE tokens DROP COLUMN last_used", "ALTER TABLE sessions DROP COLUMN created",
          "ALTER TABLE sessions DROP COLUMN address"}) {
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    sqlite3_close(db);

    SqliteAccountStore accounts(file);
    EXPECT_EQ(accounts.session(session)->name, "olga");
    EXPECT_TRUE(accounts.verifyToken(token));
    EXPECT_EQ(accounts.accounts().at(0).lastLogin, "");
    EXPECT_EQ(accounts.sessions("olga").size(), 1u);
    accounts.setRole("olga", Role::Engineer, {"ada", "192.0.2.1"});
    ASSERT_EQ(accounts.changes(0, 10).size(), 1u);
    EXPECT_EQ(accounts.changes(0, 10)[0].detail, "from operator to engineer");
}

}  // namespace
