// Destruction: the tally is let go, a pending confirm window is stopped,
// and "AS" is always last.
#include <gmock/gmock.h>

#include "PanelFixture.h"

namespace {

class ShutdownTest : public PanelFixture {
  protected:
    void SetUp() override { startAndClear(); }
};

TEST_F(ShutdownTest, WithoutAPendingChoice) {
    destroyPanel();
    EXPECT_TRUE(linesSent({"IU 57", "AS"}));
}

TEST_F(ShutdownTest, WithAPendingChoiceTheConfirmTimerIsStopped) {
    press("1", "Select_2");
    host.clear();
    destroyPanel();
    EXPECT_TRUE(linesSent({"IU 57", "ET 1", "AS"}));
}

TEST_F(ShutdownTest, AConfirmedOrWithdrawnChoiceIsNoLongerPending) {
    press("1", "Select_2");
    press("1", "Confirm");
    press("1", "Select_3");
    press("1", "Cancel");
    host.clear();
    destroyPanel();
    EXPECT_TRUE(linesSent({"IU 57", "AS"}));
}

TEST_F(ShutdownTest, AnEditUnderWayIsLeftToTheHost) {
    pickSource("37");
    pressReturn("Camera 1");
    host.clear();
    destroyPanel();
    EXPECT_TRUE(linesSent({"IU 57", "AS"}));
}

TEST_F(ShutdownTest, WithoutAHostNothingIsSent) {
    destroyPanel();
    host.clear();
    startPanel(nullptr, kPanelPath);
    press("1", "Select_2");
    destroyPanel();
    EXPECT_TRUE(linesSent({}));
}

}  // namespace
