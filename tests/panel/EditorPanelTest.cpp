// The editor panel's set buttons, the title edit and the way back to the
// selector panel.
#include <gmock/gmock.h>

#include <algorithm>

#include "ExpectedLines.h"
#include "PanelFixture.h"

namespace {
using expected::control;
using expected::kReadKeyboard;
using expected::put;

class EditorPanelTest : public PanelFixture {
  protected:
    void SetUp() override { startAndClear(); }

    // Commits `text` for source `source` of the open set and returns the
    // "RM" line it wrote.
    std::string commitSource(int source, const std::string& text) {
        pickSource(std::to_string(source));
        pressReturn(text);
        holdPostEdit(text);
        host.clear();
        press("2", "Update");
        const Lines& sent = host.commands();
        const auto written = std::find_if(sent.begin(), sent.end(), [](const std::string& line) {
            return line.rfind("RM ", 0) == 0;
        });
        const std::string line = written == sent.end() ? "" : *written;
        host.clear();
        return line;
    }
};

std::string lit(const std::string& control) {
    return put("statesheet=ZRSourceSelected", "2", control);
}
std::string unlit(const std::string& control) {
    return put("statesheet=ZRSourceDeselected", "2", control);
}

TEST_F(EditorPanelTest, ASetButtonOpensItsSet) {
    press("2", "NameSet_4");
    EXPECT_TRUE(
        linesSent({unlit("NameSet_1"), lit("NameSet_4"), put("text=Sport", "2", "NamesetName")}));
    pickSource("5");
    EXPECT_TRUE(linesSent(expected::sourceEdit(4, "SDI 5", "S4 Src 5")));
    press("2", "Cancel");
    EXPECT_EQ(commitSource(37, "Camera 1"), "RM 12 4 37 'Camera 1' 0");
}

TEST_F(EditorPanelTest, TheNextSetButtonUnlightsTheLastOneOpened) {
    press("2", "NameSet_2");
    host.clear();
    press("2", "NameSet_8");
    EXPECT_TRUE(linesSent(
        {unlit("NameSet_2"), lit("NameSet_8"), put("text=Edit Two", "2", "NamesetName")}));
    EXPECT_EQ(commitSource(128, "Last"), "RM 12 8 128 'Last' 0");
}

TEST_F(EditorPanelTest, OnlyTheLastCharacterOfASetButtonCounts) {
    press("2", "NameSet_14");
    EXPECT_TRUE(
        linesSent({unlit("NameSet_1"), lit("NameSet_14"), put("text=Sport", "2", "NamesetName")}));
    EXPECT_EQ(commitSource(2, "Two"), "RM 12 4 2 'Two' 0");
}

TEST_F(EditorPanelTest, ASetButtonNotEndingInOneToEightIsIgnored) {
    press("2", "NameSet_3");
    host.clear();
    for (const char* name :
         {"NameSet_0", "NameSet_9", "NameSet_x", "NameSet_", "NameSet_10", "NameSet_-"}) {
        press("2", name);
    }
    EXPECT_TRUE(linesSent({}));
    // Set 3 stays open, for names and for its title.
    EXPECT_EQ(commitSource(6, "Six"), "RM 12 3 6 'Six' 0");
    press("2", "NamesetName");
    pressReturn("News");
    holdPostEdit("News");
    host.clear();
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitTitle("News", "RM 12 9 3 'News' 0")));
    press("2", "NameSet_5");
    EXPECT_TRUE(
        linesSent({unlit("NameSet_3"), lit("NameSet_5"), put("text=Gallery", "2", "NamesetName")}));
}

TEST_F(EditorPanelTest, ATitleEditOpensTheKeyboardOnTheTitle) {
    press("2", "NameSet_3");
    host.clear();
    press("2", "NamesetName");
    EXPECT_TRUE(
        linesSent(concat({expected::disableSelectors(),
                          {put("text=Newsroom", "2", "KB_1"), control("CE", "2", "KB_1")}})));
    typeKey("A title too long for");
    EXPECT_TRUE(linesSent({kReadKeyboard, put("text=A title too long", "2", "KB_1")}));
    pressReturn("News desk");
    EXPECT_TRUE(linesSent(concat({{kReadKeyboard}, expected::takePrompt("News desk")})));
    holdPostEdit("News desk");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitTitle("News desk", "RM 12 9 3 'News desk' 0")));
}

TEST_F(EditorPanelTest, ACommittedTitleReachesTheSelectorWhenTheDatabaseReportsIt) {
    press("2", "NameSet_3");
    press("2", "NamesetName");
    pressReturn("News desk");
    holdPostEdit("News desk");
    press("2", "Update");
    host.clear();
    // The titles the panel holds change only with the report.
    press("2", "NameSet_2");
    press("2", "NameSet_3");
    EXPECT_TRUE(linesSent({unlit("NameSet_3"), lit("NameSet_2"),
                           put("text=Studio B", "2", "NamesetName"), unlit("NameSet_2"),
                           lit("NameSet_3"), put("text=Newsroom", "2", "NamesetName")}));
    driver().databaseChange(kNames, 9, 3, "News desk");
    EXPECT_TRUE(linesSent({put("text=News desk", "1", "Names_3")}));
    press("2", "NameSet_3");
    EXPECT_TRUE(linesSent(
        {unlit("NameSet_3"), lit("NameSet_3"), put("text=News desk", "2", "NamesetName")}));
}

TEST_F(EditorPanelTest, AFailedKeyboardReadCommitsTheTitleUnchanged) {
    // A source edit leaves its text behind; the title edit must not take it.
    pickSource("37");
    pressReturn("Stale name");
    press("2", "Cancel");
    press("2", "NamesetName");
    host.forgetAnswer(kReadKeyboard);
    host.clear();
    driver().controlEvent("2", "KB_1", "key.return");
    EXPECT_TRUE(linesSent(concat({{kReadKeyboard}, expected::takePrompt("Studio A")})));
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitTitle("Studio A", "RM 12 9 1 'Studio A' 0")));
}

TEST_F(EditorPanelTest, ACancelledTitleEditWritesNothing) {
    press("2", "NamesetName");
    pressReturn("Other");
    host.clear();
    press("2", "Cancel");
    EXPECT_TRUE(linesSent(expected::cancelEdit()));
}

TEST_F(EditorPanelTest, ATitleEditDoesNotFollowDatabaseChanges) {
    pickSource("37");
    press("2", "Cancel");
    press("2", "NamesetName");
    host.clear();
    // Neither the title under edit nor the last source edited is refreshed.
    driver().databaseChange(kNames, 9, 1, "Elsewhere");
    driver().databaseChange(kNames, 1, 37, "Renamed");
    EXPECT_TRUE(linesSent({put("text=Elsewhere", "1", "Names_1")}));
}

TEST_F(EditorPanelTest, BackShowsTheSelectorPanel) {
    press("2", "Nameset_Select");
    EXPECT_TRUE(linesSent({"PR '2'", "PS '1' '/srv/panels/Selector.tovi_ui'"}));
}

}  // namespace
