// The 32-bit plugin as the production host meets it: nameset_editor.dll is
// loaded with LoadLibrary, made through its one export and driven only
// through deliver(), with the host's records in their 32-bit layouts.
#include <gmock/gmock.h>

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "PluginLibrary.h"
#include "ScriptDriver.h"
#include "ScriptedHost.h"

namespace {
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

// The studio the panel finds: device numbers the host gives its instance
// names, and the sizes of its name databases.
constexpr int kRouter = 3;
constexpr int kTally = 57;
constexpr int kNames = 12;
constexpr int kSources = 128;
constexpr int kUserSets = 8;
constexpr int kTitleDatabase = 9;
constexpr char kPanelPath[] = "C:/panels";
// Start-up reads every router name twice (databases 0 and 2), every name of
// the eight user sets and their eight titles, each with one "RN".
constexpr int kStartupReads = 2 * kSources + kUserSets * kSources + kUserSets;

std::string routerName(int source) {
    return "Router " + std::to_string(source);
}
std::string setName(int set, int source) {
    return "Set" + std::to_string(set) + " Src" + std::to_string(source);
}
std::string title(int set) {
    return "Studio " + std::to_string(set);
}

Lines setButtons(const std::string& command) {
    Lines lines;
    for (int set = 1; set <= kUserSets; ++set) {
        lines.push_back(command + " '2' 'NameSet_" + std::to_string(set) + "'");
    }
    return lines;
}

// The editor's selectors, in the order the panel disables them.
Lines selectors(const std::string& command) {
    Lines lines{command + " '2' 'SrcGroup'", command + " '2' 'SrcName'",
                command + " '2' 'Nameset_Select'"};
    const Lines buttons = setButtons(command);
    lines.insert(lines.end(), buttons.begin(), buttons.end());
    lines.push_back(command + " '2' 'NamesetName'");
    return lines;
}

Lines details(const std::string& command) {
    Lines lines;
    for (const char* control :
         {"L1", "L2", "L3", "L4", "Nameset_id", "LongName", "PreEdit", "PostEdit"}) {
        lines.push_back(command + " '2' '" + control + "'");
    }
    return lines;
}

Lines joined(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class PluginHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.loaded()) << library.error();
        const PluginLibrary::Factory factory = library.factory("load_tovi_client_script");
        ASSERT_NE(factory, nullptr) << "the DLL does not export load_tovi_client_script";

        host.knowDevice("StC SDI Router", kRouter);
        host.knowDevice("CTA Tally Infodriver", kTally);
        host.knowDevice("StC_UMD_Names_DriverID", kNames);
        for (int source = 1; source <= kSources; ++source) {
            host.holdName(kRouter, 0, source, routerName(source));
            host.holdName(kRouter, 2, source, "Second " + std::to_string(source));
            for (int set = 1; set <= kUserSets; ++set) {
                host.holdName(kNames, set, source, setName(set, source));
            }
        }
        for (int set = 1; set <= kUserSets; ++set) {
            host.holdName(kNames, kTitleDatabase, set, title(set));
        }
        panel = factory(&host, kPanelPath);
        ASSERT_NE(panel, nullptr);
        startup = host.takeLines();
    }

    void TearDown() override {
        destroyPanel();
        EXPECT_THAT(host.faults(), IsEmpty());
    }

    void destroyPanel() {
        tovi_destroy(panel);
        panel = nullptr;
    }

    ScriptDriver driver() { return ScriptDriver(panel); }
    void press(const std::string& panelId, const std::string& control) {
        driver().controlEvent(panelId, control, "button.pressed");
    }
    void key(const std::string& keyboardText, const char* eventText) {
        host.holdProperty("2", "KB_1", "text", keyboardText);
        driver().controlEvent("2", "KB_1", eventText);
    }

    PluginLibrary library{PluginLibrary::besideProgram(NAMESET_EDITOR_DLL)};
    ScriptedHost host;
    tovi_client_callback* panel = nullptr;
    Lines startup;
};

TEST_F(PluginHostTest, StartsThroughItsExportAndReadsEveryName) {
    const Lines opening = joined({
        {"PI '1' 'C:/panels/Selector.tovi_ui'", "PI '2' 'C:/panels/NameEdit.tovi_ui'"},
        details("CH"),
        {"SD 'StC SDI Router'", "SD 'CTA Tally Infodriver'", "SD 'StC_UMD_Names_DriverID'",
         "RN 3 0 1", "RN 3 0 2"},
    });
    Lines closing{"RN 12 9 8", "PS '1' 'C:/panels/Selector.tovi_ui'"};
    for (int set = 1; set <= kUserSets; ++set) {
        closing.push_back("TP 'text=" + title(set) + "' '1' 'Names_" + std::to_string(set) + "'");
    }
    closing.insert(
        closing.end(),
        {"CD '2' 'KB_1'", "TP 'button.001=released' '2' 'SrcGroup'",
         "TP 'statesheet=ZRSourceSelected' '2' 'NameSet_1'", "TP 'text=Studio 1' '2' 'NamesetName'",
         "CD '2' 'Cancel'", "CD '2' 'Update'", "IR 57 211 212", "IP 57 211 212", "RR 12 1 128"});
    // Two of the reads open the start-up and one closes it.
    const std::size_t total = opening.size() + kStartupReads - 3 + closing.size();

    ASSERT_EQ(startup.size(), total);
    EXPECT_THAT(
        Lines(startup.begin(), startup.begin() + static_cast<std::ptrdiff_t>(opening.size())),
        ElementsAreArray(opening));
    EXPECT_THAT(Lines(startup.end() - static_cast<std::ptrdiff_t>(closing.size()), startup.end()),
                ElementsAreArray(closing));
    EXPECT_EQ(host.handBacks(), 3 + kStartupReads);
}

TEST_F(PluginHostTest, ConfirmedChoiceIsWrittenToTheTallySlot) {
    press("1", "Select_5");
    EXPECT_THAT(host.takeLines(), ElementsAre("TP 'statesheet=ZRSourceSelected' '1' 'Select_5'",
                                              "ET 1 1000", "CE '1' 'Confirm'"));
    press("1", "Confirm");
    EXPECT_THAT(host.takeLines(),
                ElementsAre("ET 1", "TP 'statesheet=ZRSourceDeselected' '1' 'Select_5'",
                            "CD '1' 'Confirm'", "IW 57 '5' 212 0"));

    // The tally infodriver reports the set it now shows.
    driver().revertive(kTally, 212, "5");
    EXPECT_THAT(host.takeLines(), ElementsAre("TP 'text=Studio 5' '1' 'Current'"));
}

TEST_F(PluginHostTest, UnconfirmedChoiceLapsesOnTheTenthTickOfTimerOne) {
    press("1", "Select_3");
    host.takeLines();
    for (int tick = 1; tick < 10; ++tick) {
        driver().timerTick(1);
    }
    EXPECT_THAT(host.takeLines(), IsEmpty());
    driver().timerTick(1);
    EXPECT_THAT(host.takeLines(),
                ElementsAre("CD '1' 'Confirm'", "TP 'statesheet=ZRSourceDeselected' '1' 'Select_3'",
                            "ET 1"));
}

TEST_F(PluginHostTest, CommittedNameIsWrittenToTheNamesDatabase) {
    press("2", "NameSet_5");
    EXPECT_THAT(host.takeLines(), ElementsAre("TP 'statesheet=ZRSourceDeselected' '2' 'NameSet_1'",
                                              "TP 'statesheet=ZRSourceSelected' '2' 'NameSet_5'",
                                              "TP 'text=Studio 5' '2' 'NamesetName'"));

    driver().controlEvent("2", "SrcName", "selected=37");
    EXPECT_THAT(host.takeLines(),
                ElementsAreArray(
                    joined({selectors("CD"),
                            details("CS"),
                            {"TP 'text=5' '2' 'Nameset_id'", "TP 'text=Router 37' '2' 'LongName'",
                             "TP 'text=Set5 Src37' '2' 'PreEdit'", "TP 'text=' '2' 'PostEdit'",
                             "TP 'text=Set5 Src37' '2' 'KB_1'", "CE '2' 'KB_1'"}})));

    key("Camera Left", "key.t");
    EXPECT_THAT(host.takeLines(), ElementsAre("TG '2' 'KB_1' 'text'"));
    key("Camera Left Wide 2", "key.2");
    EXPECT_THAT(host.takeLines(),
                ElementsAre("TG '2' 'KB_1' 'text'", "TP 'text=Camera Left Wide' '2' 'KB_1'"));
    key("Camera Left Wide", "key.return");
    EXPECT_THAT(
        host.takeLines(),
        ElementsAre("TG '2' 'KB_1' 'text'", "TP 'text=Camera Left Wide' '2' 'KB_1'",
                    "TP 'text=Camera Left Wide' '2' 'PostEdit'", "CD '2' 'KB_1'", "CE '2' 'Cancel'",
                    "CE '2' 'Update'", "TP 'statesheet=ZR_TakeLow' '2' 'Cancel'",
                    "TP 'statesheet=ZR_TakeHigh' '2' 'Update'", "ET 2 500"));

    driver().timerTick(2);
    EXPECT_THAT(host.takeLines(), ElementsAre("TP 'statesheet=ZR_TakeHigh' '2' 'Cancel'",
                                              "TP 'statesheet=ZR_TakeLow' '2' 'Update'"));

    host.holdProperty("2", "PostEdit", "text", "Camera Left Wide");
    press("2", "Update");
    EXPECT_THAT(host.takeLines(),
                ElementsAreArray(joined(
                    {{"ET 2", "CD '2' 'Cancel'", "CD '2' 'Update'", "TG '2' 'PostEdit' 'text'",
                      "TP 'text=' '2' 'KB_1'", "RM 12 5 37 'Camera Left Wide' 0"},
                     details("CH"),
                     {"TP 'index=0' '2' 'SrcName'", "CE '2' 'SrcGroup'", "CE '2' 'SrcName'",
                      "CE '2' 'Nameset_Select'", "CE '2' 'NamesetName'"},
                     setButtons("CE")})));
}

TEST_F(PluginHostTest, DatabaseChangesReachTheSelectorLabels) {
    driver().revertive(kTally, 212, "4");
    host.takeLines();
    driver().databaseChange(kNames, kTitleDatabase, 4, "Gallery Four");
    EXPECT_THAT(host.takeLines(), ElementsAre("TP 'text=Gallery Four' '1' 'Names_4'",
                                              "TP 'text=Gallery Four' '1' 'Current'"));
    // Another device's change, though its numbers match, is none of the panel's.
    driver().databaseChange(kRouter, kTitleDatabase, 4, "Elsewhere");
    EXPECT_THAT(host.takeLines(), IsEmpty());
}

TEST_F(PluginHostTest, HostMessageAnswersAreMadeAndFreedByThePlugin) {
    EXPECT_EQ(driver().hostMessage("myParam=studio 4"), std::nullopt);
    EXPECT_EQ(driver().hostMessage("return=all"), "myParam=studio 4");
    EXPECT_EQ(driver().hostMessage("_events"), "notify=*");
    EXPECT_THAT(host.takeLines(), IsEmpty());
}

TEST_F(PluginHostTest, StopsThroughItsVirtualDestructor) {
    press("1", "Select_2");
    host.takeLines();
    destroyPanel();
    EXPECT_THAT(host.takeLines(), ElementsAre("IU 57", "ET 1", "AS"));
}

}  // namespace
