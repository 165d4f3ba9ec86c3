#include <gtest/gtest.h>

#include <sstream>

#include "NameSetCsv.h"
#include "NameSetDiff.h"

using panelhost::NameSetCsv;
using panelhost::NameSetDiff;
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
