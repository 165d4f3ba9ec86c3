// The rules of bulk work on name sets, on an engine over a real data file:
// what an import, a copy, an undo and a restore write, what they leave
// alone, and what the panels hear of it.
#include <gtest/gtest.h>

#include "FakeScript.h"
#include "HostEngine.h"
#include "NameSeed.h"
#include "NameSets.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

using namespace panelhost;

namespace {

constexpr int kNames = 12;
constexpr const char* kNamesDevice = "StC_UMD_Names_DriverID";
constexpr int kTitles = 9;

class NameSetsTest : public ::testing::Test {
  protected:
    // A panel instance registered for every name of the names device.
    FakeScript& watcher() {
        FakeScript* script = nullptr;
        engine_.createInstance(
            [&](tovi_client_callback* host, const char*) {
                script = new FakeScript(host, {"RR 12 1 128"});
                return script;
            },
            folder_.path().string());
        return *script;
    }

    std::string name(int database, int index) const {
        return store_.name(kNamesDevice, database, index).value_or("<none>");
    }

    TempFolder folder_;
    DeviceCatalog catalog_ = DeviceCatalog::defaults();
    SqliteNameStore store_{folder_.path() / "names.db", NameSeed::forCatalog(catalog_)};
    EventLog log_{1000000};
    ChangeFeed feed_;
    HostEngine engine_{catalog_, store_, log_, feed_, [] { return TimerTable::TimePoint{}; }};
    NameSets sets_{engine_};
};

std::vector<std::string> databaseChanges(const FakeScript& script) {
    std::vector<std::string> result;
    for (const auto& notice : script.notices) {
        if (notice.type == 6) {
            result.push_back(notice.text);
        }
    }
    return result;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST_F(NameSetsTest, AnImportIsPreviewedWrittenAsOneBatchAndUndoneWithoutLaterChanges) {
    const FakeScript& panel = watcher();
    const NameSetAddress news{kNames, 3};
    const std::string csv = "source,name\n1,Anchor\n2,Guest\n3,News Cam 3\n";

    const NameSets::Change preview = sets_.importCsv(news, csv, "news.csv", "ann", false);
    ASSERT_TRUE(preview.result.ok()) << preview.result.error;
    ASSERT_EQ(preview.lines.size(), 3u);
    EXPECT_EQ(preview.lines[0].status, NameSetDiff::Status::Changed);
    EXPECT_EQ(preview.lines[0].oldText, "News Cam 1");
    EXPECT_EQ(preview.lines[2].status, NameSetDiff::Status::Unchanged);
    EXPECT_FALSE(preview.batch);

    const NameSets::Change refused =
        sets_.importCsv(news, "1,Anchor\n200,Far away\n", "bad.csv", "ann", true);
    EXPECT_EQ(refused.result.status, HostResult::Status::Invalid);
    EXPECT_NE(refused.result.error.find("nothing was written"), std::string::npos);
    EXPECT_EQ(refused.lines.size(), 2u);
    EXPECT_EQ(name(3, 1), "News Cam 1");
    EXPECT_TRUE(databaseChanges(panel).empty());

    const NameSets::Change imported = sets_.importCsv(news, csv, "news.csv", "ann", true);
    ASSERT_TRUE(imported.result.ok()) << imported.result.error;
    ASSERT_TRUE(imported.batch);
    EXPECT_EQ(imported.batch->kind, "import");
    EXPECT_EQ(imported.batch->what, "news.csv into database 3 of StC_UMD_Names_DriverID");
    EXPECT_EQ(name(3, 1), "Anchor");
    EXPECT_EQ(name(3, 2), "Guest");
    EXPECT_EQ(databaseChanges(panel), (Texts{"12 3 1 Anchor", "12 3 2 Guest"}));
    const NameSets::BatchRead read = sets_.batch(imported.batch->id);
    ASSERT_TRUE(read.result.ok());
    EXPECT_EQ(read.entries.size(), 2u);

    // Someone changes one name of the batch since: the undo leaves it be.
    ASSERT_TRUE(engine_.writeName("bob", kNames, 3, 2, "Late Guest").ok());
    const NameSets::Undone undone = sets_.undo(imported.batch->id, "ann");
    ASSERT_TRUE(undone.result.ok()) << undone.result.error;
    EXPECT_EQ(undone.restored, 1);
    ASSERT_EQ(undone.batches.size(), 1u);
    EXPECT_EQ(undone.batches[0].undoes, imported.batch->id);
    EXPECT_EQ(undone.batches[0].kind, "undo");
    ASSERT_EQ(undone.skipped.size(), 1u);
    EXPECT_EQ(undone.skipped[0].entry.index, 2);
    EXPECT_EQ(undone.skipped[0].now, "Late Guest");
    EXPECT_EQ(undone.skipped[0].reason.rfind("changed since by bob at ", 0), 0u);
    EXPECT_EQ(name(3, 1), "News Cam 1");
    EXPECT_EQ(name(3, 2), "Late Guest");

    // Undone once, nothing of the batch is its newest entry any more.
    const NameSets::Undone again = sets_.undo(imported.batch->id, "ann");
    EXPECT_EQ(again.restored, 0);
    EXPECT_EQ(again.skipped.size(), 2u);
    EXPECT_EQ(sets_.undo(999999, "ann").result.status, HostResult::Status::NotFound);
    EXPECT_EQ(sets_.batch(999999).result.status, HostResult::Status::NotFound);
}

TEST_F(NameSetsTest, ACopyTakesTheNamesAndOnlyWhenAskedTheTitle) {
    const NameSetAddress election{kNames, 5};
    const NameSetAddress news{kNames, 3};

    const NameSets::Change preview = sets_.copy(election, news, false, "ann", false);
    ASSERT_TRUE(preview.result.ok()) << preview.result.error;
    EXPECT_EQ(preview.lines.size(), 128u);
    EXPECT_FALSE(preview.title);
    EXPECT_FALSE(preview.batch);
    EXPECT_EQ(name(3, 1), "News Cam 1");

    const NameSets::Change names = sets_.copy(election, news, false, "ann", true);
    ASSERT_TRUE(names.result.ok()) << names.result.error;
    ASSERT_TRUE(names.batch);
    EXPECT_EQ(names.batch->what, "device 12 database 5 onto device 12 database 3");
    EXPECT_EQ(sets_.names(news), sets_.names(election));
    EXPECT_EQ(name(kTitles, 3), "News");
    // The same copy again changes nothing and writes no batch.
    EXPECT_FALSE(sets_.copy(election, news, false, "ann", true).batch);

    const NameSets::Change titled = sets_.copy({kNames, 1}, news, true, "ann", true);
    ASSERT_TRUE(titled.result.ok()) << titled.result.error;
    ASSERT_TRUE(titled.title);
    EXPECT_EQ(titled.title->oldText, "News");
    EXPECT_EQ(titled.title->newText, "Studio A");
    ASSERT_TRUE(titled.batch);
    EXPECT_EQ(titled.batch->what, "device 12 database 1 onto device 12 database 3 with its title");
    EXPECT_EQ(name(kTitles, 3), "Studio A");
    EXPECT_EQ(name(3, 1), "A Cam 1");

    const NameSets::Change onItself = sets_.copy(news, news, false, "ann", true);
    EXPECT_EQ(onItself.result.status, HostResult::Status::Invalid);
    const NameSets::Change untitled = sets_.copy({1, 0}, news, true, "ann", true);
    EXPECT_EQ(untitled.result.error, "the source set has no stored title to copy");
    EXPECT_TRUE(untitled.lines.empty());
    const NameSets::Change missing = sets_.copy({kNames, 10}, news, false, "ann", true);
    EXPECT_EQ(missing.result.status, HostResult::Status::NotFound);
    EXPECT_EQ(missing.result.error, "there is no device 12 database 10");
    EXPECT_EQ(name(3, 1), "A Cam 1");
}

TEST_F(NameSetsTest, ARestorePutsBackAHistoryEntryAndSetsAreComparedAndSearched) {
    ASSERT_TRUE(engine_.writeName("bob", kNames, 3, 7, "Wrong Name").ok());
    const long long written = engine_.history(HistoryQuery{}).front().id;
    const NameSets::RestoredName restored = sets_.restore(written, "ann");
    ASSERT_TRUE(restored.result.ok()) << restored.result.error;
    EXPECT_EQ(restored.text, "News Cam 7");
    EXPECT_EQ(name(3, 7), "News Cam 7");
    const HistoryEntry newest = engine_.history(HistoryQuery{}).front();
    EXPECT_EQ(newest.who, "ann");
    EXPECT_EQ(newest.restores, written);
    EXPECT_EQ(sets_.restore(999999, "ann").result.status, HostResult::Status::NotFound);

    ASSERT_TRUE(sets_.copy({kNames, 3}, {kNames, 4}, false, "ann", true).result.ok());
    ASSERT_TRUE(engine_.writeName("bob", kNames, 4, 9, "Zebra Cam").ok());
    const NameSets::Comparison comparison = sets_.compare({kNames, 3}, {kNames, 4});
    ASSERT_TRUE(comparison.result.ok());
    EXPECT_EQ(comparison.differences, 1);
    ASSERT_EQ(comparison.rows.size(), 128u);
    EXPECT_EQ(comparison.rows[8].index, 9);
    EXPECT_EQ(comparison.rows[8].right, "Zebra Cam");
    EXPECT_EQ(sets_.compare({kNames, 3}, {kNames, 99}).result.error,
              "there is no device 12 database 99");

    const NameSets::Found zebra = sets_.find("zEBRA");
    ASSERT_EQ(zebra.hits.size(), 1u);
    EXPECT_EQ(zebra.hits[0].database, 4);
    EXPECT_EQ(zebra.hits[0].index, 9);
    EXPECT_FALSE(zebra.hits[0].title);
    EXPECT_FALSE(zebra.more);
    const NameSets::Found title = sets_.find("election");
    ASSERT_EQ(title.hits.size(), 1u);
    EXPECT_TRUE(title.hits[0].title);
    EXPECT_EQ(title.hits[0].text, "Election");
    EXPECT_TRUE(sets_.find("").hits.empty());
    const NameSets::Found everywhere = sets_.find("a");
    EXPECT_EQ(everywhere.hits.size(), NameSets::kMostHits);
    EXPECT_TRUE(everywhere.more);
}
