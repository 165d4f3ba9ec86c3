#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <sstream>

#include "DeviceCatalog.h"
#include "NameSeed.h"
#include "OpenNameStore.h"
#include "PostgresConnection.h"
#include "PostgresNameStore.h"
#include "PostgresTestDatabase.h"
#include "SqliteConnection.h"
#include "SqliteNameStore.h"
#include "SqliteStatement.h"
#include "TempFolder.h"

using panelhost::DeviceCatalog;
using panelhost::HistoryQuery;
using panelhost::NameBatch;
using panelhost::NameSeed;
using panelhost::NameStore;
using panelhost::NameWrite;
using panelhost::SeedData;
using panelhost::StoreError;

namespace {

// The store contract, run against each kind of store: "sqlite" always,
// "postgresql" when PANELHOST_TEST_POSTGRES names a server.
class StoreContract : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() != "postgresql") {
            return;
        }
        if (PostgresTestDatabase::server().empty()) {
            GTEST_SKIP() << "set " << PostgresTestDatabase::kVariable
                         << " to a throwaway server's URL to run this against PostgreSQL "
                            "(tests/store/run-postgres-test.sh does)";
        }
        ASSERT_NO_FATAL_FAILURE(database_.open("panelhost_test"));
        conninfo_ = database_.conninfo();
    }

    // Opens the test's store: the same data each time within a test.
    std::unique_ptr<NameStore> open(const SeedData& seed = seed_) {
        if (GetParam() == "postgresql") {
            return std::make_unique<panelhost::PostgresNameStore>(conninfo_, seed);
        }
        return panelhost::openNameStore("", folder_.path() / "names.db", seed);
    }

    static inline const SeedData seed_ = NameSeed::forCatalog(DeviceCatalog::defaults());
    TempFolder folder_;
    PostgresTestDatabase database_;
    std::string conninfo_;
};

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract, testing::Values("sqlite", "postgresql"),
                         [](const testing::TestParamInfo<std::string>& store) {
                             return store.param;
                         });

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string openError(const std::filesystem::path& file) {
    try {
        panelhost::SqliteNameStore store(file, NameSeed::forCatalog(DeviceCatalog::defaults()));
    } catch (const StoreError& error) {
        return error.what();
    }
    return "";
}

}  // namespace

TEST(NameSeed, SeedsPlausibleNamesAndTitles) {
    const auto seed = NameSeed::forCatalog(DeviceCatalog::defaults());
    // 2 router databases, 8 name sets of 128 names, 8 titles.
    EXPECT_EQ(seed.names.size(), 2u * 128u + 8u * 128u + 8u);
    for (const auto& name : seed.names) {
        EXPECT_FALSE(name.text.empty());
        EXPECT_LE(name.text.size(), 16u) << name.text;
    }
    EXPECT_EQ(seed.names.front().text, "Camera 1");
    EXPECT_EQ(seed.slots.size(), 2u);
}

TEST_P(StoreContract, ANewStoreIsSeeded) {
    const auto opened = open();
    const NameStore& store = *opened;
    EXPECT_EQ(store.name("StC SDI Router", 0, 1), "Camera 1");
    EXPECT_EQ(store.name("StC SDI Router", 2, 1), "CAM 1");
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 9, 3), "News");
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 3, 2), "News Cam 2");
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 9, 9), std::nullopt);
    EXPECT_EQ(store.slot("CTA Tally Infodriver", 212), "1");
    EXPECT_EQ(store.slot("CTA Tally Infodriver", 1), "");
}

TEST_P(StoreContract, AReopenFindsEverythingAsItWas) {
    {
        const auto opened = open();
        NameStore& store = *opened;
        EXPECT_EQ(store.writeName({"StC_UMD_Names_DriverID", 12, 5, 37, "Guest's Cam", "api"}),
                  "Line In 1");
        store.writeName({"StC_UMD_Names_DriverID", 12, 5, 37, "Host Cam", "panel instance 1"});
        store.writeSlot("CTA Tally Infodriver", 212, "5", "test");
        store.writeCrosspoints("StC SDI Router", {{3, 8}, {4, 0}});
        store.writeCrosspoints("StC SDI Router", {{3, 9}});
        EXPECT_EQ(store.writeStats().committed, 3u);
        EXPECT_EQ(store.writeStats().failed, 0u);
    }
    // A different seed must not be applied to a store that exists.
    const auto opened = open(SeedData{});
    const NameStore& store = *opened;
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 5, 37), "Host Cam");
    EXPECT_EQ(store.slot("CTA Tally Infodriver", 212), "5");
    EXPECT_EQ(store.crosspoints("StC SDI Router"), (std::map<int, int>{{3, 9}, {4, 0}}));
    EXPECT_TRUE(store.crosspoints("CTA Tally Infodriver").empty());
    const auto history = store.history(HistoryQuery{});
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].who, "panel instance 1");
    EXPECT_EQ(history[0].oldText, "Guest's Cam");
    EXPECT_EQ(history[0].newText, "Host Cam");
    EXPECT_EQ(history[1].oldText, "Line In 1");
    EXPECT_EQ(history[1].deviceNumber, 12);
    EXPECT_EQ(history[1].database, 5);
    EXPECT_EQ(history[1].index, 37);
}

TEST(SqliteNameStore, AFileFromBeforeCrosspointsGainsTheirTable) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    const auto seed = NameSeed::forCatalog(DeviceCatalog::defaults());
    { panelhost::SqliteNameStore created(file, seed); }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE crosspoints", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    panelhost::SqliteNameStore store(file, seed);
    EXPECT_TRUE(store.crosspoints("StC SDI Router").empty());
    store.writeCrosspoints("StC SDI Router", {{1, 2}});
    EXPECT_EQ(store.crosspoints("StC SDI Router").at(1), 2);
    EXPECT_EQ(store.name("StC SDI Router", 0, 1), "Camera 1");
}

TEST_P(StoreContract, HistoryCanBeNarrowedAndPaged) {
    const auto opened = open();
    NameStore& store = *opened;
    store.writeNames({{"StC_UMD_Names_DriverID", 12, 1, 1, "a", "csv import"},
                      {"StC_UMD_Names_DriverID", 12, 1, 1, "b", "csv import"},
                      {"StC_UMD_Names_DriverID", 12, 2, 1, "c", "csv import"}});
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 1, 1), "b");

    HistoryQuery query;
    query.database = 1;
    const auto setOne = store.history(query);
    ASSERT_EQ(setOne.size(), 2u);
    EXPECT_EQ(setOne[0].oldText, "a");
    query.before = setOne[0].id;
    EXPECT_EQ(store.history(query).size(), 1u);
    query = HistoryQuery{};
    query.limit = 1;
    EXPECT_EQ(store.history(query).size(), 1u);
    query.device = "StC SDI Router";
    EXPECT_TRUE(store.history(query).empty());
}

TEST(SqliteNameStore, AFileThatIsNotADatabaseIsRefusedAndKept) {
    TempFolder folder;
    const auto file = folder.write("names.db", "these are my holiday notes\n");
    EXPECT_NE(openError(file).find("is not a panelhost data file"), std::string::npos);
    EXPECT_EQ(contents(file), "these are my holiday notes\n");
}

TEST(SqliteNameStore, ADatabaseOfAnotherProgramIsRefusedAndKept) {
    TempFolder folder;
    const auto file = folder.path() / "other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t (x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string before = contents(file);

    EXPECT_NE(openError(file).find("another program"), std::string::npos);
    EXPECT_EQ(contents(file), before);
}

TEST(SqliteNameStore, ACorruptFileIsRefusedAndKept) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    { panelhost::SqliteNameStore store(file, NameSeed::forCatalog(DeviceCatalog::defaults())); }
    std::string damaged = contents(file);
    // Keep the header (and so the application id), wreck the pages after it.
    constexpr std::size_t kHeader = 100;
    constexpr std::size_t kPage = 4096;
    ASSERT_GT(damaged.size(), 3 * kPage);
    for (std::size_t i = kPage + kHeader; i < 3 * kPage; ++i) {
        damaged[i] = static_cast<char>(i * 7);
    }
    std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;

    const std::string error = openError(file);
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error.find("left as it is"), std::string::npos) << error;
    EXPECT_EQ(contents(file), damaged);
}

TEST(SqliteNameStore, ASecondProcessCannotUseTheFile) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    panelhost::SqliteNameStore first(file, NameSeed::forCatalog(DeviceCatalog::defaults()));
    EXPECT_NE(openError(file).find("in use by another process"), std::string::npos);
}

// A value SQLite will not bind is an error naming the call, never a NULL
// that the statement then writes in its place.
TEST(SqliteStatement, AValueThatCannotBeBoundIsAnErrorNotANull) {
    TempFolder folder;
    const panelhost::SqliteConnection db(folder.path() / "bind.db", true, 0);
    db.execute("CREATE TABLE t (v TEXT)");
    constexpr int kLengthLimit = 16;
    sqlite3_limit(db.handle(), SQLITE_LIMIT_LENGTH, kLengthLimit);
    const auto bindError = [&](auto bindAndStep) {
        panelhost::SqliteStatement insert(db.handle(), "INSERT INTO t VALUES (?1)");
        try {
            bindAndStep(insert);
        } catch (const StoreError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };

    EXPECT_EQ(
        bindError([&](auto& insert) {
            insert.bind(1, std::string(2 * kLengthLimit, 'x'));
            insert.step();
        }),
        (folder.path() / "bind.db").string() + ": sqlite3_bind_text(?1): string or blob too big");
    EXPECT_NE(bindError([](auto& insert) {
                  insert.bind(1, 7LL).bind(2, 8LL);
                  insert.step();
              }).find("sqlite3_bind_int64(?2): column index out of range"),
              std::string::npos);
    EXPECT_NE(bindError([](auto& insert) {
                  insert.bindBlob(1, std::vector<unsigned char>(2 * kLengthLimit));
                  insert.step();
              }).find("sqlite3_bind_blob(?1): string or blob too big"),
              std::string::npos);

    panelhost::SqliteStatement rows(db.handle(), "SELECT count(*) FROM t");
    ASSERT_EQ(rows.step(), SQLITE_ROW);
    EXPECT_EQ(rows.integer(0), 0) << "a statement ran with a value it was not given";
}

// A file made before batches existed gains them on opening and keeps its
// history.
TEST(SqliteNameStore, AFileFromBeforeBatchesGainsThem) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    const auto seed = NameSeed::forCatalog(DeviceCatalog::defaults());
    const std::string names = "StC_UMD_Names_DriverID";
    {
        panelhost::SqliteNameStore store(file, seed);
        store.writeName(NameWrite{names, 12, 3, 1, "Before", "test", 0});
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP INDEX history_batch; DROP TABLE batches; "
                           "ALTER TABLE history DROP COLUMN batch; "
                           "ALTER TABLE history DROP COLUMN restores",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);

    panelhost::SqliteNameStore store(file, seed);
    ASSERT_EQ(store.history({}).size(), 1u);
    EXPECT_EQ(store.history({})[0].batch, 0);
    const NameBatch batch = store.writeBatch(NameBatch{0, "", "someone", "import", "news.csv", 0},
                                             {NameWrite{names, 12, 3, 1, "One", "someone", 0}});
    EXPECT_EQ(store.batchEntries(batch.id).at(0).oldText, "Before");
}

// A batch is one transaction and one step of the history; a write that
// restores an entry says which.
TEST_P(StoreContract, BatchesAreRecordedAsOneAndRestoresNamed) {
    const std::string names = "StC_UMD_Names_DriverID";
    const auto opened = open();
    NameStore& store = *opened;
    store.writeName(NameWrite{names, 12, 3, 1, "Before", "test", 0});
    ASSERT_EQ(store.history({}).size(), 1u);
    EXPECT_EQ(store.history({})[0].batch, 0);
    EXPECT_EQ(store.history({})[0].batchSize, 0);
    const NameBatch batch = store.writeBatch(NameBatch{0, "", "someone", "import", "news.csv", 0},
                                             {NameWrite{names, 12, 3, 1, "One", "someone", 0},
                                              NameWrite{names, 12, 3, 2, "Two", "someone", 0}});
    EXPECT_NE(batch.id, 0);
    EXPECT_FALSE(batch.time.empty());
    EXPECT_EQ(store.name(names, 3, 2), "Two");
    const auto entries = store.batchEntries(batch.id);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].oldText, "Before");
    EXPECT_EQ(entries[1].newText, "Two");
    EXPECT_EQ(entries[1].batchSize, 2);
    EXPECT_EQ(entries[1].batchKind, "import");
    EXPECT_EQ(entries[1].batchWhat, "news.csv");
    EXPECT_EQ(store.newestEntry(names, 3, 2), entries[1].id);
    EXPECT_EQ(store.newestEntry(names, 7, 7), 0);
    EXPECT_EQ(store.batch(batch.id)->what, "news.csv");
    EXPECT_EQ(store.batch(batch.id + 1), std::nullopt);
    const NameBatch undo =
        store.writeBatch(NameBatch{0, "", "someone", "undo", "undo", batch.id},
                         {NameWrite{names, 12, 3, 2, "News Cam 2", "someone", entries[1].id}});
    EXPECT_EQ(store.batch(undo.id)->undoes, batch.id);

    EXPECT_EQ(store.historyEntry(store.newestEntry(names, 3, 2))->restores, entries[1].id);
    EXPECT_EQ(store.historyEntry(store.newestEntry(names, 3, 2))->oldText, "Two");
    EXPECT_EQ(store.historyEntry(entries[0].id)->restores, 0);
    EXPECT_EQ(store.historyEntry(999999), std::nullopt);
}

// Opening a store that cannot be used throws StoreError and names why: for
// PostgreSQL a server that is not there and a schema of another program.
TEST_P(StoreContract, AStoreThatCannotBeUsedIsRefused) {
    if (GetParam() == "sqlite") {
        folder_.write("names.db", "notes\n");
        EXPECT_THROW(open(), StoreError);
        return;
    }
    try {
        // Port 1 on the loopback: nothing listens there.
        panelhost::openNameStore("postgresql://nobody@127.0.0.1:1/none", {}, seed_);
        ADD_FAILURE() << "a server that is not there was accepted";
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot connect"), std::string::npos)
            << error.what();
    }
    ASSERT_EQ(PostgresTestDatabase::run(
                  conninfo_, "CREATE SCHEMA panelhost; CREATE TABLE panelhost.t (x int)"),
              "");
    try {
        open();
        ADD_FAILURE() << "a schema of another program was accepted";
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find("not a panelhost's"), std::string::npos)
            << error.what();
    }
}

// A write that the server holds (here another session's lock on the row;
// in production a commit waiting for a lost standby) is given up after the
// statement timeout, answered as unavailable, and changes nothing; the
// store writes again once the server answers. It never waits for as long
// as the server holds it.
TEST_P(StoreContract, AWriteTheServerHoldsEndsAfterTheStatementTimeout) {
    if (GetParam() == "sqlite") {
        return;  // a data file has no other sessions
    }
    const auto store = open();
    const std::string before = store->name("StC_UMD_Names_DriverID", 5, 37).value_or("");
    panelhost::PostgresConnection holder(conninfo_);
    holder.run("begins", "BEGIN");
    holder.run("locks the row",
               "SELECT text FROM panelhost.names WHERE device = 'StC_UMD_Names_DriverID' AND "
               "db = 5 AND idx = 37 FOR UPDATE");
    auto write = std::async(std::launch::async, [&] {
        return store->writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 37, "Held", "ada", 0});
    });
    const auto bound =
        std::chrono::milliseconds(3 * panelhost::PostgresNameStore::kStatementTimeoutMs);
    const bool answered = write.wait_for(bound) == std::future_status::ready;
    holder.run("ends", "ROLLBACK");
    ASSERT_TRUE(answered) << "the write waited as long as the server held it";
    EXPECT_THROW(write.get(), panelhost::StoreUnavailable);
    EXPECT_EQ(store->name("StC_UMD_Names_DriverID", 5, 37), before);
    EXPECT_EQ(store->writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 37, "Free", "ada", 0}),
              before);
}

// Two stores on one database, as two hosts have them: each catch-up
// returns exactly what the other wrote and this one did not know (the last
// text of an entry written twice, nothing for its own writes or a write of
// the text it has), also after the rows it needs were pruned and after its
// connection was lost; a database of the format before the changes table
// is brought up to date. A data file has no other writers: nothing.
TEST_P(StoreContract, AStoreCatchesUpWithAnotherWriterOfItsDatabase) {
    using Kind = panelhost::StoreChange::Kind;
    const auto first = open();
    NameStore& a = *first;
    // What a copy of the names knows to read again: only the database, or
    // the device's slots, that changed, whoever changed them.
    const auto revisions = [](const NameStore& store) {
        return std::array<long long, 3>{store.namesRevision("StC_UMD_Names_DriverID", 5),
                                        store.namesRevision("StC_UMD_Names_DriverID", 6),
                                        store.slotsRevision("CTA Tally Infodriver")};
    };
    const auto opened = revisions(a);
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 37, "VT 37", "ada", 0});
    EXPECT_NE(revisions(a)[0], opened[0]);
    EXPECT_EQ(revisions(a)[1], opened[1]);
    EXPECT_EQ(revisions(a)[2], opened[2]);
    if (GetParam() == "sqlite") {
        EXPECT_TRUE(a.catchUp().empty());
        return;
    }
    const auto second = open();
    NameStore& b = *second;
    EXPECT_TRUE(b.catchUp().empty()) << "b opened after a's write and has it";
    EXPECT_TRUE(a.catchUp().empty()) << "a's own write";

    const std::string seeded = b.name("StC_UMD_Names_DriverID", 5, 38).value_or("");
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 38, "Draft", "ada", 0});
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 38, "Guest", "ada", 0});
    a.writeSlot("CTA Tally Infodriver", 212, "5", "panel instance 1");
    a.writeCrosspoints("StC SDI Router", {{3, 8}});
    a.writeBatch(NameBatch{0, "", "bob", "import", "news.csv into set 5", 0},
                 {{"StC_UMD_Names_DriverID", 12, 5, 1, "Anchor", "bob", 0},
                  {"StC_UMD_Names_DriverID", 12, 5, 37, "VT 37", "bob", 0}});
    b.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 40, "Own", "cy", 0});
    const auto before = revisions(b);
    const auto changes = b.catchUp();
    EXPECT_NE(revisions(b)[0], before[0]);
    EXPECT_EQ(revisions(b)[1], before[1]);
    EXPECT_NE(revisions(b)[2], before[2]);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].kind, Kind::Name);
    EXPECT_EQ(changes[0].index, 38);
    EXPECT_EQ(changes[0].text, "Guest");
    EXPECT_EQ(changes[0].oldText, seeded);
    EXPECT_EQ(changes[0].who, "ada");
    EXPECT_EQ(changes[1].kind, Kind::Slot);
    EXPECT_EQ(changes[1].text, "5");
    EXPECT_EQ(changes[1].oldText, "1");
    EXPECT_EQ(changes[1].who, "panel instance 1");
    EXPECT_EQ(changes[2].kind, Kind::Crosspoint);
    EXPECT_EQ(changes[2].index, 3);
    EXPECT_EQ(changes[2].source, 8);
    EXPECT_EQ(changes[3].kind, Kind::Name);
    EXPECT_EQ(changes[3].index, 1);
    EXPECT_EQ(changes[3].text, "Anchor");
    EXPECT_EQ(changes[3].who, "bob");
    EXPECT_EQ(b.name("StC_UMD_Names_DriverID", 5, 38), "Guest");
    EXPECT_EQ(b.slot("CTA Tally Infodriver", 212), "5");
    EXPECT_EQ(b.crosspoints("StC SDI Router").at(3), 8);
    EXPECT_TRUE(b.catchUp().empty());
    const auto own = a.catchUp();
    ASSERT_EQ(own.size(), 1u) << "only b's write is news to a";
    EXPECT_EQ(own[0].text, "Own");

    // The rows b needs are gone (pruned): b reads everything and compares.
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 2, "Pruned", "ada", 0});
    a.writeSlot("CTA Tally Infodriver", 100, "2", "ada");
    ASSERT_EQ(PostgresTestDatabase::run(conninfo_, "DELETE FROM panelhost.changes"), "");
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 3, "After", "ada", 0});
    const auto reread = b.catchUp();
    ASSERT_EQ(reread.size(), 3u);
    EXPECT_EQ(reread[0].text, "Pruned");
    EXPECT_EQ(reread[1].text, "After");
    EXPECT_EQ(reread[2].kind, Kind::Slot);
    EXPECT_EQ(reread[2].index, 100);
    EXPECT_TRUE(b.catchUp().empty());

    // Both connections are cut (a server restart does that): a's next write
    // connects again and succeeds; b, having lost its connection, reads
    // everything and finds that write.
    ASSERT_EQ(PostgresTestDatabase::run(
                  conninfo_,
                  "DO $$ BEGIN PERFORM pg_terminate_backend(pid) FROM pg_stat_activity "
                  "WHERE datname = current_database() AND pid <> pg_backend_pid(); "
                  "END $$"),
              "");
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 4, "Back", "ada", 0});
    const auto reconnected = b.catchUp();
    ASSERT_EQ(reconnected.size(), 1u);
    EXPECT_EQ(reconnected[0].text, "Back");

    // The database is away (it takes no connections and ended both): a
    // write throws StoreUnavailable and changes nothing, in memory neither;
    // so does a catch-up; once it is back, both work again.
    ASSERT_EQ(PostgresTestDatabase::run(
                  PostgresTestDatabase::server(),
                  "ALTER DATABASE " + database_.name() + " ALLOW_CONNECTIONS false"),
              "");
    ASSERT_EQ(PostgresTestDatabase::run(PostgresTestDatabase::server(),
                                        "DO $$ BEGIN PERFORM pg_terminate_backend(pid) FROM "
                                        "pg_stat_activity WHERE datname = '" +
                                            database_.name() + "'; END $$"),
              "");
    EXPECT_THROW(a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 6, "Away", "ada", 0}),
                 panelhost::StoreUnavailable);
    EXPECT_NE(a.name("StC_UMD_Names_DriverID", 5, 6), "Away");
    EXPECT_THROW(b.catchUp(), panelhost::StoreUnavailable);
    ASSERT_EQ(
        PostgresTestDatabase::run(PostgresTestDatabase::server(),
                                  "ALTER DATABASE " + database_.name() + " ALLOW_CONNECTIONS true"),
        "");
    a.writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 6, "Back again", "ada", 0});
    const auto afterAway = b.catchUp();
    ASSERT_EQ(afterAway.size(), 1u);
    EXPECT_EQ(afterAway[0].text, "Back again");

    // A database of the earlier format opens, brought up to date.
    ASSERT_EQ(
        PostgresTestDatabase::run(
            conninfo_, "DROP TABLE panelhost.changes; UPDATE panelhost.format SET version = 1"),
        "");
    const auto upgraded = open();
    const auto watcher = open();
    upgraded->writeName(NameWrite{"StC_UMD_Names_DriverID", 12, 5, 5, "Later", "ada", 0});
    const auto afterUpgrade = watcher->catchUp();
    ASSERT_EQ(afterUpgrade.size(), 1u);
    EXPECT_EQ(afterUpgrade[0].text, "Later");
}
