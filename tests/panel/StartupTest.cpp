// Start-up: every line in its order, the hand-backs, and a studio in which
// the host knows no device, or there is no host at all.
#include <gmock/gmock.h>

#include "ExpectedLines.h"
#include "PanelFixture.h"

namespace {
using expected::control;
using expected::put;

constexpr int kSources = 128;
constexpr int kSets = 8;
// Three device lookups and 1,288 name reads each hand their answer back.
constexpr int kStartupAnswers = 3 + 2 * kSources + kSets * kSources + kSets;

std::string readLine(int device, int database, int index) {
    return "RN " + std::to_string(device) + " " + std::to_string(database) + " " +
           std::to_string(index);
}

// The whole start-up for devices router, tally and names, with the layout
// folder `path` and titles(n) the label of set n.
template <typename Titles>
Lines startup(const std::string& path, int router, int tally, int names, Titles titles) {
    const std::string folder = path.empty() ? "" : path + "/";
    Lines lines = concat(
        {{"PI '1' '" + folder + "Selector.tovi_ui'", "PI '2' '" + folder + "NameEdit.tovi_ui'"},
         expected::hideDetails(),
         {"SD 'StC SDI Router'", "SD 'CTA Tally Infodriver'", "SD 'StC_UMD_Names_DriverID'"}});
    for (int source = 1; source <= kSources; ++source) {
        lines.push_back(readLine(router, 0, source));
    }
    for (int source = 1; source <= kSources; ++source) {
        lines.push_back(readLine(router, 2, source));
    }
    for (int set = 1; set <= kSets; ++set) {
        for (int source = 1; source <= kSources; ++source) {
            lines.push_back(readLine(names, set, source));
        }
    }
    for (int set = 1; set <= kSets; ++set) {
        lines.push_back(readLine(names, 9, set));
    }
    lines.push_back("PS '1' '" + folder + "Selector.tovi_ui'");
    for (int set = 1; set <= kSets; ++set) {
        lines.push_back(put("text=" + titles(set), "1", "Names_" + std::to_string(set)));
    }
    const std::string tallyText = std::to_string(tally);
    return concat({lines,
                   {control("CD", "2", "KB_1"), put("button.001=released", "2", "SrcGroup"),
                    put("statesheet=ZRSourceSelected", "2", "NameSet_1"),
                    put("text=" + titles(1), "2", "NamesetName"), control("CD", "2", "Cancel"),
                    control("CD", "2", "Update"), "IR " + tallyText + " 211 212",
                    "IP " + tallyText + " 211 212", "RR " + std::to_string(names) + " 1 128"}});
}

class StartupTest : public PanelFixture {};

TEST_F(StartupTest, SendsEveryLineInOrderAndHandsEveryAnswerBack) {
    startPanel();
    const Lines lines = startup(kPanelPath, kRouter, kTally, kNames, title);
    ASSERT_EQ(lines.size(), 1319u);
    EXPECT_TRUE(sameLines(host.commands(), lines));
    EXPECT_EQ(host.handBacks(), kStartupAnswers);
    EXPECT_EQ(host.nullHandBacks(), 0);
    EXPECT_THAT(host.debugLines(), ::testing::IsEmpty());
}

TEST_F(StartupTest, LayoutsWithoutAFolderAreNamedAlone) {
    startPanel(&host, "");
    EXPECT_EQ(host.commands().front(), "PI '1' 'Selector.tovi_ui'");
    EXPECT_TRUE(sameLines(host.commands(), startup("", kRouter, kTally, kNames, title)));
}

TEST_F(StartupTest, ANullFolderIsTakenAsNone) {
    startPanel(&host, nullptr);
    EXPECT_TRUE(sameLines(host.commands(), startup("", kRouter, kTally, kNames, title)));
}

TEST_F(StartupTest, UnansweredReadsLeaveTheirEntriesEmpty) {
    host.forgetAnswer(readLine(kNames, 9, 4));
    host.forgetAnswer(readLine(kNames, 1, 37));
    startAndClear();
    EXPECT_EQ(host.handBacks(), kStartupAnswers);
    EXPECT_EQ(host.nullHandBacks(), 2);

    driver().revertive(kTally, 212, "4");
    EXPECT_TRUE(linesSent({put("text=", "1", "Current")}));
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, routerName(37), "")));
}

TEST_F(StartupTest, FixedTitlesBelongToSetsZeroAndNine) {
    startAndClear();
    driver().revertive(kTally, 212, "0");
    driver().revertive(kTally, 212, "9");
    EXPECT_TRUE(linesSent(
        {put("text=Matrix Names", "1", "Current"), put("text=MV Input Names", "1", "Current")}));
}

TEST_F(StartupTest, EntryZeroIsNeverReadAndStaysEmpty) {
    host.answerName(kRouter, 0, 0, "router zero");
    host.answerName(kNames, 1, 0, "set zero");
    startAndClear();
    pickSource("0");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "", "")));
}

TEST_F(StartupTest, AHostThatKnowsNoDeviceGetsEverythingForDeviceZero) {
    host.forgetAnswer("SD 'StC SDI Router'");
    host.answerDevice("CTA Tally Infodriver", "");
    host.answerDevice("StC_UMD_Names_DriverID", "unknown");
    startPanel();
    const auto noTitle = [](int) { return std::string(); };
    EXPECT_TRUE(sameLines(host.commands(), startup(kPanelPath, 0, 0, 0, noTitle)));
    // Two lookups answered, and every read answered null and handed back.
    EXPECT_EQ(host.handBacks(), 2 + kStartupAnswers - 3);
    EXPECT_EQ(host.nullHandBacks(), kStartupAnswers - 3);
    host.clear();
    destroyPanel();
    EXPECT_TRUE(linesSent({"IU 0", "AS"}));
}

TEST_F(StartupTest, FailingPanelCommandsDoNotStopStartUp) {
    host.setPanelCommandsSucceed(false);
    startPanel();
    EXPECT_TRUE(sameLines(host.commands(), startup(kPanelPath, kRouter, kTally, kNames, title)));
}

// Without a host the panel still runs every flow; it sends nothing, and only
// the copy of a written name reaches the debug output.
TEST_F(StartupTest, WithoutAHostNothingIsSentAndNothingFails) {
    startPanel(nullptr, kPanelPath);
    pickSource("37");
    typeKey("Camera 1 with a long name");
    pressReturn("Camera 1");
    press("2", "Update");
    press("1", "Select_3");
    tick(1, 10);
    press("1", "Confirm");
    driver().revertive(0, 211, "2");
    driver().revertive(0, 212, "3");
    driver().databaseChange(0, 9, 3, "News");
    EXPECT_EQ(driver().hostMessage("return=all"), "myParam=");
    destroyPanel();
    EXPECT_THAT(host.commands(), ::testing::IsEmpty());
    EXPECT_EQ(host.handBacks(), 0);
    EXPECT_THAT(host.debugLines(), ::testing::ElementsAre("RM 0 1 37 '' 0\n"));
}

}  // namespace
