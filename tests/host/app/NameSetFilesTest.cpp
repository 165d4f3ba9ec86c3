// The command-line import and export of a name set on a data file no host
// holds.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "NameSeed.h"
#include "NameSetFiles.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

using panelhost::DeviceCatalog;
using panelhost::NameSeed;
using panelhost::NameSetFiles;
using panelhost::SqliteNameStore;

class NameSetFilesTest : public ::testing::Test {
  protected:
    NameSetFiles::Target target(int set) const {
        return NameSetFiles::Target{folder_.path() / "panelhost.db", DeviceCatalog::defaults(),
                                    "StC_UMD_Names_DriverID", set, ""};
    }

    std::string name(int set, int index) const {
        SqliteNameStore store(folder_.path() / "panelhost.db",
                              NameSeed::forCatalog(DeviceCatalog::defaults()));
        return store.name("StC_UMD_Names_DriverID", set, index).value_or("<none>");
    }

    TempFolder folder_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(NameSetFilesTest, AnImportWritesEveryNameWithHistory) {
    const auto file = folder_.write("news.csv", "source,name\n1,Anchor\n37,Guest Cam\n");
    EXPECT_EQ(NameSetFiles::importSet(target(3), file, out_, err_), 0) << err_.str();
    EXPECT_EQ(name(3, 1), "Anchor");
    EXPECT_EQ(name(3, 37), "Guest Cam");
    EXPECT_EQ(name(3, 2), "News Cam 2");
    SqliteNameStore store(folder_.path() / "panelhost.db",
                          NameSeed::forCatalog(DeviceCatalog::defaults()));
    const auto history = store.history({});
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].who, "csv import news.csv");
    EXPECT_NE(history[0].batch, 0);
    EXPECT_EQ(history[0].batch, history[1].batch);
    EXPECT_EQ(history[0].batchKind, "import");
    EXPECT_EQ(history[0].batchSize, 2);
}

TEST_F(NameSetFilesTest, AnInvalidLineMeansNothingIsWritten) {
    const auto file = folder_.write("bad.csv", "1,Anchor\n200,Far away\n5,Cam\x1b[31m5\n");
    EXPECT_EQ(NameSetFiles::importSet(target(3), file, out_, err_), 2);
    EXPECT_NE(out_.str().find("line 2: source \"200\" is not a number from 1 to 128"),
              std::string::npos);
    EXPECT_NE(out_.str().find("line 3: the name of source 5 holds a control character (\\x1b) at "
                              "character 4"),
              std::string::npos)
        << out_.str();
    EXPECT_EQ(out_.str().find('\x1b'), std::string::npos);
    EXPECT_NE(err_.str().find("nothing was written"), std::string::npos);
    EXPECT_EQ(name(3, 1), "News Cam 1");
}

TEST_F(NameSetFilesTest, AnExportWritesTheWholeSet) {
    const auto file = folder_.path() / "out.csv";
    EXPECT_EQ(NameSetFiles::exportSet(target(5), file, out_, err_), 0) << err_.str();
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_EQ(text.str().rfind("source,name\n1,Elect Cam 1\n2,Elect Cam 2\n", 0), 0u);
    EXPECT_EQ(NameSetFiles::exportSet(target(5), "-", out_, err_), 0);
    EXPECT_EQ(out_.str(), text.str());
    EXPECT_EQ(NameSetFiles::exportSet(target(10), "-", out_, err_), 1);
    EXPECT_NE(err_.str().find("has no database (name set) 10"), std::string::npos);
}
