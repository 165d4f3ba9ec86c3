#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <map>
#include <sstream>

#include "DeviceCatalog.h"
#include "NameSeed.h"
#include "NameStore.h"
#include "TempFolder.h"

using panelhost::DeviceCatalog;
using panelhost::HistoryQuery;
using panelhost::NameBatch;
using panelhost::NameSeed;
using panelhost::NameStore;
using panelhost::NameWrite;
using panelhost::StoreError;

namespace {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string openError(const std::filesystem::path& file) {
    try {
        NameStore store(file, NameSeed::forCatalog(DeviceCatalog::defaults()));
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

TEST(NameStore, ANewFileIsSeeded) {
    TempFolder folder;
    NameStore store(folder.path() / "names.db", NameSeed::forCatalog(DeviceCatalog::defaults()));
    EXPECT_EQ(store.name("StC SDI Router", 0, 1), "Camera 1");
    EXPECT_EQ(store.name("StC SDI Router", 2, 1), "CAM 1");
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 9, 3), "News");
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 3, 2), "News Cam 2");
    EXPECT_EQ(store.name("StC_UMD_Names_DriverID", 9, 9), std::nullopt);
    EXPECT_EQ(store.slot("CTA Tally Infodriver", 212), "1");
    EXPECT_EQ(store.slot("CTA Tally Infodriver", 1), "");
}

TEST(NameStore, ARestartFindsEverythingAsItWas) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    const auto seed = NameSeed::forCatalog(DeviceCatalog::defaults());
    {
        NameStore store(file, seed);
        EXPECT_EQ(store.writeName({"StC_UMD_Names_DriverID", 12, 5, 37, "Guest's Cam", "api"}),
                  "Line In 1");
        store.writeName({"StC_UMD_Names_DriverID", 12, 5, 37, "Host Cam", "panel instance 1"});
        store.writeSlot("CTA Tally Infodriver", 212, "5");
        store.writeCrosspoints("StC SDI Router", {{3, 8}, {4, 0}});
        store.writeCrosspoints("StC SDI Router", {{3, 9}});
    }
    NameStore store(file, seed);
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

TEST(NameStore, AFileFromBeforeCrosspointsGainsTheirTable) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    const auto seed = NameSeed::forCatalog(DeviceCatalog::defaults());
    { NameStore created(file, seed); }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE crosspoints", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    NameStore store(file, seed);
    EXPECT_TRUE(store.crosspoints("StC SDI Router").empty());
    store.writeCrosspoints("StC SDI Router", {{1, 2}});
    EXPECT_EQ(store.crosspoints("StC SDI Router").at(1), 2);
    EXPECT_EQ(store.name("StC SDI Router", 0, 1), "Camera 1");
}

TEST(NameStore, HistoryCanBeNarrowedAndPaged) {
    TempFolder folder;
    NameStore store(folder.path() / "names.db", NameSeed::forCatalog(DeviceCatalog::defaults()));
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

TEST(NameStore, AFileThatIsNotADatabaseIsRefusedAndKept) {
    TempFolder folder;
    const auto file = folder.write("names.db", "these are my holiday notes\n");
    EXPECT_NE(openError(file).find("is not a panelhost data file"), std::string::npos);
    EXPECT_EQ(contents(file), "these are my holiday notes\n");
}

TEST(NameStore, ADatabaseOfAnotherProgramIsRefusedAndKept) {
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

TEST(NameStore, ACorruptFileIsRefusedAndKept) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    { NameStore store(file, NameSeed::forCatalog(DeviceCatalog::defaults())); }
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

TEST(NameStore, ASecondProcessCannotUseTheFile) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    NameStore first(file, NameSeed::forCatalog(DeviceCatalog::defaults()));
    EXPECT_NE(openError(file).find("in use by another process"), std::string::npos);
}

// A batch is one transaction and one step of the history; a file made
// before batches existed gains them on opening and keeps its history.
TEST(NameStore, BatchesAreRecordedAsOneAndOlderFilesGainThem) {
    TempFolder folder;
    const auto file = folder.path() / "names.db";
    const auto seed = NameSeed::forCatalog(DeviceCatalog::defaults());
    const std::string names = "StC_UMD_Names_DriverID";
    {
        NameStore store(file, seed);
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

    NameStore store(file, seed);
    ASSERT_EQ(store.history({}).size(), 1u);
    EXPECT_EQ(store.history({})[0].batch, 0);
    const NameBatch batch = store.writeBatch(NameBatch{0, "", "someone", "import", "news.csv", 0},
                                             {NameWrite{names, 12, 3, 1, "One", "someone", 0},
                                              NameWrite{names, 12, 3, 2, "Two", "someone", 0}});
    EXPECT_NE(batch.id, 0);
    EXPECT_FALSE(batch.time.empty());
    const auto entries = store.batchEntries(batch.id);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].oldText, "Before");
    EXPECT_EQ(entries[1].newText, "Two");
    EXPECT_EQ(entries[1].batchSize, 2);
    EXPECT_EQ(store.newestEntry(names, 3, 2), entries[1].id);
    EXPECT_EQ(store.batch(batch.id)->what, "news.csv");
    EXPECT_EQ(store.batch(batch.id + 1), std::nullopt);

    store.writeName(NameWrite{names, 12, 3, 2, "News Cam 2", "someone", entries[1].id});
    EXPECT_NE(store.newestEntry(names, 3, 2), entries[1].id);
    EXPECT_EQ(store.historyEntry(store.newestEntry(names, 3, 2))->restores, entries[1].id);
}
