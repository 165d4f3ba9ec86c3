// The selector panel: choosing the name set the displays show, confirming,
// withdrawing, letting the confirm window lapse, brightness, and the way
// to the editor panel.
#include <gmock/gmock.h>

#include "ExpectedLines.h"
#include "PanelFixture.h"

namespace {
using expected::control;
using expected::put;

class SelectorTest : public PanelFixture {
  protected:
    void SetUp() override { startAndClear(); }
};

const std::string kConfirmOn = control("CE", "1", "Confirm");
const std::string kConfirmOff = control("CD", "1", "Confirm");

std::string lit(const std::string& control) {
    return put("statesheet=ZRSourceSelected", "1", control);
}
std::string unlit(const std::string& control) {
    return put("statesheet=ZRSourceDeselected", "1", control);
}

TEST_F(SelectorTest, AChoiceLightsItsButtonAndOpensTheConfirmWindow) {
    press("1", "Select_3");
    EXPECT_TRUE(linesSent({lit("Select_3"), "ET 1 1000", kConfirmOn}));
}

TEST_F(SelectorTest, ANewChoiceUnlightsThePendingOneAndRestartsTheWindow) {
    press("1", "Select_5");
    tick(1, 6);
    host.clear();
    press("1", "Select_3");
    EXPECT_TRUE(linesSent({unlit("Select_5"), lit("Select_3"), "ET 1 1000", kConfirmOn}));
    // Ten fresh ticks, not the four the first choice had left.
    tick(1, 9);
    EXPECT_TRUE(linesSent({}));
    tick(1);
    EXPECT_TRUE(linesSent({kConfirmOff, unlit("Select_3"), "ET 1"}));
}

TEST_F(SelectorTest, ConfirmSendsTheChoiceToTheTally) {
    press("1", "Select_3");
    host.clear();
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_3"), kConfirmOff, "IW 57 '3' 212 0"}));
    // The choice is over: the selector's "Cancel" has nothing to withdraw.
    press("1", "Cancel");
    EXPECT_TRUE(linesSent({}));
}

TEST_F(SelectorTest, ConfirmWithNothingPendingSendsTheLastSetChosen) {
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_0"), kConfirmOff, "IW 57 '0' 212 0"}));
    press("1", "Select_6");
    press("1", "Confirm");
    host.clear();
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_6"), kConfirmOff, "IW 57 '6' 212 0"}));
}

TEST_F(SelectorTest, OnlyTheLastCharacterOfAChoiceButtonCounts) {
    press("1", "Select_12");
    EXPECT_TRUE(linesSent({lit("Select_12"), "ET 1 1000", kConfirmOn}));
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_2"), kConfirmOff, "IW 57 '2' 212 0"}));
}

TEST_F(SelectorTest, CancelWithdrawsThePendingChoiceAndKeepsItsNumber) {
    press("1", "Select_4");
    host.clear();
    press("1", "Cancel");
    EXPECT_TRUE(linesSent({unlit("Select_4"), "ET 1", kConfirmOff}));
    press("1", "Cancel");
    EXPECT_TRUE(linesSent({}));
    // The window is closed: further ticks of timer 1 change nothing.
    tick(1, 20);
    EXPECT_TRUE(linesSent({}));
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_4"), kConfirmOff, "IW 57 '4' 212 0"}));
}

TEST_F(SelectorTest, CancelWithNothingPendingSendsNothing) {
    press("1", "Cancel");
    EXPECT_TRUE(linesSent({}));
}

TEST_F(SelectorTest, AnUnconfirmedChoiceLapsesOnTheTenthTick) {
    press("1", "Select_7");
    host.clear();
    tick(1, 9);
    EXPECT_TRUE(linesSent({}));
    tick(1);
    EXPECT_TRUE(linesSent({kConfirmOff, unlit("Select_7"), "ET 1"}));
    // Nothing is written to the tally, and later ticks count on silently.
    tick(1, 3);
    press("1", "Cancel");
    EXPECT_TRUE(linesSent({}));
    destroyPanel();
    EXPECT_TRUE(linesSent({"IU 57", "AS"}));
}

TEST_F(SelectorTest, BrightnessGoesStraightToTheTally) {
    press("1", "UMDBright_2");
    EXPECT_TRUE(linesSent({"IW 57 '2' 211 0"}));
    // The character is sent unranged; only a revertive lights a button.
    press("1", "UMDBright_7");
    EXPECT_TRUE(linesSent({"IW 57 '7' 211 0"}));
}

TEST_F(SelectorTest, BrightnessLeavesAPendingChoiceAlone) {
    press("1", "Select_1");
    press("1", "UMDBright_3");
    host.clear();
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_1"), kConfirmOff, "IW 57 '1' 212 0"}));
}

TEST_F(SelectorTest, NameEditorSwapsInTheEditorPanel) {
    press("1", "Name_Editor");
    EXPECT_TRUE(linesSent({"PR '1'", "PS '2' '/srv/panels/NameEdit.tovi_ui'"}));
}

TEST_F(SelectorTest, OpeningTheEditorLetsAPendingChoiceRunOut) {
    press("1", "Select_8");
    press("1", "Name_Editor");
    host.clear();
    tick(1, 10);
    EXPECT_TRUE(linesSent({kConfirmOff, unlit("Select_8"), "ET 1"}));
}

TEST_F(SelectorTest, TheEditorsCancelNeverWithdrawsAChoice) {
    press("1", "Select_2");
    host.clear();
    press("2", "Cancel");
    EXPECT_TRUE(linesSent(expected::cancelEdit()));
    press("1", "Confirm");
    EXPECT_TRUE(linesSent({"ET 1", unlit("Select_2"), kConfirmOff, "IW 57 '2' 212 0"}));
}

TEST_F(SelectorTest, EventsOfOtherPanelsAndUnknownControlsAreIgnored) {
    for (const char* name : {"Select_1", "UMDBright_2", "Cancel", "Confirm", "Name_Editor",
                             "SrcName", "Update", "NameSet_3"}) {
        press("3", name);
        press("0", name);
        press("", name);
    }
    // Names are matched exactly, case included; the alarm buttons are the
    // panel's own business and not screened.
    for (const char* name : {"select_1", "umdbright_2", "confirm", "Select", "AckAll", "ActionAll",
                             "Current", "Names_1"}) {
        press("1", name);
    }
    for (const char* name : {"Confirm", "Select_1", "nameset_3", "namesetname", "AckAll"}) {
        press("2", name);
    }
    driver().controlEvent("1", "ActionAll", "alarm=1");
    EXPECT_TRUE(linesSent({}));
}

TEST_F(SelectorTest, ThePanelIdIsComparedAsANumber) {
    press("01", "Select_5");
    EXPECT_TRUE(linesSent({lit("Select_5"), "ET 1 1000", kConfirmOn}));
}

TEST_F(SelectorTest, AnyEventOfAButtonActsOnce) {
    driver().controlEvent("1", "Select_3", "button.released");
    driver().controlEvent("1", "Confirm", "");
    EXPECT_TRUE(linesSent({lit("Select_3"), "ET 1 1000", kConfirmOn, "ET 1", unlit("Select_3"),
                           kConfirmOff, "IW 57 '3' 212 0"}));
}

}  // namespace
