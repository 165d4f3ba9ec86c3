// Following the devices: the tally's brightness and shown name set, and
// changes to the names infodriver's databases, the name under edit included.
#include <gmock/gmock.h>

#include "ExpectedLines.h"
#include "PanelFixture.h"

namespace {
using expected::kReadKeyboard;
using expected::put;

class UpdatesTest : public PanelFixture {
  protected:
    void SetUp() override { startAndClear(); }
};

std::string lit(const std::string& control) {
    return put("statesheet=ZRSourceSelected", "1", control);
}
std::string unlit(const std::string& control) {
    return put("statesheet=ZRSourceDeselected", "1", control);
}

TEST_F(UpdatesTest, TheFirstBrightnessLightsItsButtonAndLaterOnesMoveTheLight) {
    driver().revertive(kTally, 211, "2");
    EXPECT_TRUE(linesSent({lit("UMDBright_2")}));
    driver().revertive(kTally, 211, "3");
    EXPECT_TRUE(linesSent({unlit("UMDBright_2"), lit("UMDBright_3")}));
    driver().revertive(kTally, 211, "3");
    EXPECT_TRUE(linesSent({unlit("UMDBright_3"), lit("UMDBright_3")}));
}

TEST_F(UpdatesTest, ABrightnessOutsideOneToThreeChangesNothing) {
    driver().revertive(kTally, 211, "1");
    host.clear();
    for (const char* text : {"0", "4", "-1", "99"}) {
        driver().revertive(kTally, 211, text);
    }
    EXPECT_TRUE(linesSent({}));
    driver().revertive(kTally, 211, "2");
    EXPECT_TRUE(linesSent({unlit("UMDBright_1"), lit("UMDBright_2")}));
}

TEST_F(UpdatesTest, ABrightnessWrittenWithALeadingZeroLightsTheControlNamedAfterIt) {
    driver().revertive(kTally, 211, "02");
    EXPECT_TRUE(linesSent({lit("UMDBright_02")}));
    driver().revertive(kTally, 211, "3");
    EXPECT_TRUE(linesSent({unlit("UMDBright_2"), lit("UMDBright_3")}));
}

TEST_F(UpdatesTest, TallyTextsThatAreNotWhollyANumberAreDropped) {
    driver().revertive(kTally, 211, "1");
    driver().revertive(kTally, 212, "4");
    host.clear();
    for (const char* text : {"2'", "2 ' 'x", "2 ", " 2", "2x", "two", "", "'", "0x2"}) {
        driver().revertive(kTally, 211, text);
        driver().revertive(kTally, 212, text);
    }
    EXPECT_TRUE(linesSent({}));
    // Both copies are untouched: the next reports move on from 1 and 4.
    driver().revertive(kTally, 211, "3");
    driver().databaseChange(kNames, 9, 4, "Sport 2");
    EXPECT_TRUE(
        linesSent({unlit("UMDBright_1"), lit("UMDBright_3"), put("text=Sport 2", "1", "Names_4"),
                   put("text=Sport 2", "1", "Current")}));
}

TEST_F(UpdatesTest, TheShownSetPutsItsTitleInCurrent) {
    driver().revertive(kTally, 212, "4");
    driver().revertive(kTally, 212, "0");
    driver().revertive(kTally, 212, "9");
    driver().revertive(kTally, 212, "1");
    EXPECT_TRUE(linesSent(
        {put("text=Sport", "1", "Current"), put("text=Matrix Names", "1", "Current"),
         put("text=MV Input Names", "1", "Current"), put("text=Studio A", "1", "Current")}));
}

TEST_F(UpdatesTest, AShownSetOutsideZeroToNineIsIgnored) {
    driver().revertive(kTally, 212, "3");
    host.clear();
    driver().revertive(kTally, 212, "10");
    driver().revertive(kTally, 212, "-1");
    EXPECT_TRUE(linesSent({}));
    driver().databaseChange(kNames, 9, 3, "News");
    EXPECT_TRUE(linesSent({put("text=News", "1", "Names_3"), put("text=News", "1", "Current")}));
}

TEST_F(UpdatesTest, RevertivesOfOtherDevicesAndSlotsAreIgnored) {
    for (int device : {kRouter, kNames, 0, 58}) {
        driver().revertive(device, 211, "2");
        driver().revertive(device, 212, "3");
    }
    for (int slot : {0, 210, 213, 1}) {
        driver().revertive(kTally, slot, "2");
    }
    EXPECT_TRUE(linesSent({}));
    // The brightness is still unset: the first report switches nothing off.
    driver().revertive(kTally, 211, "1");
    EXPECT_TRUE(linesSent({lit("UMDBright_1")}));
}

TEST_F(UpdatesTest, ANameChangeUpdatesTheTableQuietly) {
    driver().databaseChange(kNames, 5, 37, "Camera 5");
    EXPECT_TRUE(linesSent({}));
    press("2", "NameSet_5");
    host.clear();
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(5, "SDI 37", "Camera 5")));
}

TEST_F(UpdatesTest, AChangeOfTheNameUnderEditRefreshesPreEditAndTheKeyboard) {
    pickSource("37");
    typeKey("Cam");
    host.clear();
    driver().databaseChange(kNames, 1, 37, "Camera 9");
    EXPECT_TRUE(
        linesSent({put("text=Camera 9", "2", "PreEdit"), put("text=Camera 9", "2", "KB_1")}));
    // The edit goes on with whatever the keyboard holds at the return key.
    pressReturn("Camera 9b");
    EXPECT_TRUE(linesSent(concat({{kReadKeyboard}, expected::takePrompt("Camera 9b")})));
}

TEST_F(UpdatesTest, AChangeReportedDuringTheTakePromptRefreshesAndTheCommitStillWins) {
    pickSource("37");
    pressReturn("Mine");
    host.clear();
    driver().databaseChange(kNames, 1, 37, "Theirs");
    EXPECT_TRUE(linesSent({put("text=Theirs", "2", "PreEdit"), put("text=Theirs", "2", "KB_1")}));
    holdPostEdit("Mine");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Mine' 0")));
}

TEST_F(UpdatesTest, OtherNamesThanTheOneUnderEditOnlyUpdateTheTable) {
    pickSource("37");
    host.clear();
    driver().databaseChange(kNames, 1, 38, "Next door");
    driver().databaseChange(kNames, 2, 37, "Other set");
    // The router's own names are never followed; another device's
    // database 1 is not the names infodriver's.
    driver().databaseChange(kRouter, 1, 37, "Router");
    driver().databaseChange(kTally, 1, 37, "Tally");
    EXPECT_TRUE(linesSent({}));
}

TEST_F(UpdatesTest, AfterTheEditClosesItsNameOnlyUpdatesTheTable) {
    pickSource("37");
    pressReturn("Mine");
    holdPostEdit("Mine");
    press("2", "Update");
    host.clear();
    driver().databaseChange(kNames, 1, 37, "Later");
    EXPECT_TRUE(linesSent({}));
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 37", "Later")));
}

TEST_F(UpdatesTest, ANameChangeOutsideTheTablesIsIgnored) {
    for (int index : {129, -1, 200, -129, 100000}) {
        driver().databaseChange(kNames, 2, index, "Out of range");
    }
    EXPECT_TRUE(linesSent({}));
    // The tables on either side of set 2's kept their names.
    pickSource("128");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 128", "S1 Src 128")));
    press("2", "Cancel");
    press("2", "NameSet_3");
    host.clear();
    pickSource("0");
    EXPECT_TRUE(linesSent(expected::sourceEdit(3, "", "")));
    // Entry 0 is inside the tables: a change of it under edit is shown.
    driver().databaseChange(kNames, 3, 0, "Entry zero");
    EXPECT_TRUE(
        linesSent({put("text=Entry zero", "2", "PreEdit"), put("text=Entry zero", "2", "KB_1")}));
}

TEST_F(UpdatesTest, ATitleChangeUpdatesItsLabelAndCurrentWhenShown) {
    driver().databaseChange(kNames, 9, 3, "News");
    EXPECT_TRUE(linesSent({put("text=News", "1", "Names_3")}));
    driver().revertive(kTally, 212, "3");
    EXPECT_TRUE(linesSent({put("text=News", "1", "Current")}));
    driver().databaseChange(kNames, 9, 3, "News 2");
    EXPECT_TRUE(
        linesSent({put("text=News 2", "1", "Names_3"), put("text=News 2", "1", "Current")}));
    driver().databaseChange(kNames, 9, 8, "Edit 8");
    EXPECT_TRUE(linesSent({put("text=Edit 8", "1", "Names_8")}));
}

TEST_F(UpdatesTest, TitleChangesOutsideOneToEightAndOtherDatabasesAreIgnored) {
    driver().revertive(kTally, 212, "0");
    host.clear();
    driver().databaseChange(kNames, 9, 0, "Not set 0");
    driver().databaseChange(kNames, 9, 9, "Not set 9");
    driver().databaseChange(kNames, 9, -1, "Nothing");
    for (int database : {0, 10, -1, 11}) {
        driver().databaseChange(kNames, database, 1, "Nothing");
    }
    driver().databaseChange(kRouter, 9, 1, "Router");
    EXPECT_TRUE(linesSent({}));
    driver().revertive(kTally, 212, "0");
    driver().revertive(kTally, 212, "9");
    driver().revertive(kTally, 212, "1");
    EXPECT_TRUE(linesSent({put("text=Matrix Names", "1", "Current"),
                           put("text=MV Input Names", "1", "Current"),
                           put("text=Studio A", "1", "Current")}));
}

}  // namespace
