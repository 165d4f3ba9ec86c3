#include <gtest/gtest.h>

#include <sstream>

#include "NameSeed.h"
#include "NameSetCsv.h"
#include "NameSetDiff.h"
#include "NameSetFiles.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

using panelhost::DeviceCatalog;
using panelhost::NameSeed;
using panelhost::NameSetCsv;
using panelhost::NameSetDiff;
using panelhost::NameSetFiles;
using panelhost::SqliteNameStore;
using namespace std::string_literals;

namespace {

NameSetCsv::Report read(const std::string& text) {
    std::istringstream in(text);
    return NameSetCsv::read(in, 128, 16);
}

}  // namespace

TEST(NameSetCsv, WrittenSetsReadBackUnchanged) {
    const std::vector<std::string> names = {"Camera 1", "Smith, J", "The \"Big\" One", ""};
    const std::string csv = NameSetCsv::write(names);
    EXPECT_EQ(csv, "source,name\n1,Camera 1\n2,\"Smith, J\"\n3,\"The \"\"Big\"\" One\"\n4,\n");
    const auto report = read(csv);
    ASSERT_TRUE(report.valid);
    ASSERT_EQ(report.rows.size(), 4u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(report.rows[i].source, static_cast<int>(i) + 1);
        EXPECT_EQ(report.rows[i].name, names[i]);
    }
}

TEST(NameSetCsv, EveryLineIsReported) {
    const auto report = read(
        "source,name\r\n37,Guest Cam\r\n\n0,Zero\n129,Too far\nx,Word\n5,Seventeen chars!!\n"
        "37,Again\n6\n7,\"open\n8,\"a\"b\n9,a,b\n10,Cam\t5\n11,\"a\rb\"\n\x1b[2J,Word\n"
        "12,Cam\0 7\n"s);
    EXPECT_FALSE(report.valid);
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_EQ(report.rows[0].line, 2);
    EXPECT_EQ(
        report.lines,
        (std::vector<std::string>{
            "line 2: source 37 \"Guest Cam\"",
            "line 4: source \"0\" is not a number from 1 to 128",
            "line 5: source \"129\" is not a number from 1 to 128",
            "line 6: source \"x\" is not a number from 1 to 128",
            "line 7: name \"Seventeen chars!!\" is longer than 16 characters (17 bytes as stored)",
            "line 8: source 37 appears a second time",
            "line 9: not of the form source,name",
            "line 10: not of the form source,name",
            "line 11: not of the form source,name",
            "line 12: not of the form source,name",
            "line 13: the name of source 10 holds a control character (\\t) at character 4",
            "line 14: the name of source 11 holds a control character (\\r) at character 2",
            "line 15: source \"\\x1b[2J\" is not a number from 1 to 128",
            "line 16: the name of source 12 holds a control character (\\x00) at character 4",
        }));
}

// What a spreadsheet hands over: a byte order mark before the header, CRLF
// line ends, accented names; names count in bytes as the devices store
// them, and a file in another encoding is refused rather than stored as
// mangled text.
TEST(NameSetCsv, SpreadsheetFilesAreReadAsTheDevicesStoreThem) {
    const auto report = read(
        "\xEF\xBB\xBFsource,name\r\n1,Kamera Süd Link\r\n2,Kamera Süd Links\r\n"
        "3,Caf\xE9"
        "\r\n4,\"Quote \"\"A\"\", B\"\r\n");
    EXPECT_FALSE(report.valid);
    ASSERT_EQ(report.rows.size(), 2u);
    EXPECT_EQ(report.rows[0].name, "Kamera Süd Link");  // 15 letters, 16 bytes
    EXPECT_EQ(report.rows[1].name, "Quote \"A\", B");
    ASSERT_EQ(report.wrong.size(), 2u);
    EXPECT_EQ(report.wrong[0].line, 3);
    EXPECT_EQ(report.wrong[0].reason,
              "name \"Kamera Süd Links\" is longer than 16 characters (17 bytes as stored)");
    EXPECT_EQ(report.wrong[1].text, "3,Caf\xE9");
    EXPECT_EQ(report.wrong[1].reason, "name is not UTF-8 text (save the file as UTF-8)");
}

TEST(NameSetDiff, AnImportPreviewSaysWhatEachLineWouldDo) {
    std::vector<std::string> current(128, "Old");
    current[1] = "";
    current[2] = "Same";
    const auto lines = NameSetDiff::importPreview(
        read("source,name\n3,Same\n1,New 1\n2,Fresh\n0,Zero\n"), current);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].status, NameSetDiff::Status::Unchanged);
    EXPECT_EQ(lines[1].status, NameSetDiff::Status::Changed);
    EXPECT_EQ(lines[1].oldText, "Old");
    EXPECT_EQ(lines[2].status, NameSetDiff::Status::New);
    EXPECT_EQ(lines[3].status, NameSetDiff::Status::Wrong);
    EXPECT_EQ(lines[3].line, 5);
    EXPECT_TRUE(NameSetDiff::anyWrong(lines));
    const auto writes = NameSetDiff::writes(lines);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].source, 1);
    EXPECT_EQ(writes[1].source, 2);
}

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
