// The enclosing panel's properties, and ticks of timers the panel never
// started.
#include <gmock/gmock.h>

#include "PanelFixture.h"

namespace {
using ::testing::Eq;
using ::testing::Optional;

class HostMessageTest : public PanelFixture {
  protected:
    void SetUp() override { startAndClear(); }

    std::optional<std::string> message(const char* text) { return driver().hostMessage(text); }
};

TEST_F(HostMessageTest, MyParamIsStoredAndReadBack) {
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=")));
    EXPECT_EQ(message("myParam=cam 7"), std::nullopt);
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=cam 7")));
    EXPECT_THAT(message("return=myParam"), Optional(Eq("myParam=cam 7")));
}

TEST_F(HostMessageTest, AValueIsEverythingAfterTheFirstEqualsSign) {
    message("myParam=a=b.c");
    EXPECT_THAT(message("return=myParam"), Optional(Eq("myParam=a=b.c")));
    // The name ends at the first dot.
    message("myParam.x=5");
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=5")));
}

TEST_F(HostMessageTest, MyParamWithoutAValueEmptiesIt) {
    message("myParam=set");
    EXPECT_EQ(message("myParam"), std::nullopt);
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=")));
}

TEST_F(HostMessageTest, PlaceMarkersInMyParamComeBackAsSet) {
    message("myParam=50%1 of %2");
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=50%1 of %2")));
    EXPECT_THAT(message("return=myParam"), Optional(Eq("myParam=50%1 of %2")));
}

TEST_F(HostMessageTest, InstanceIsStoredButNeverReadBack) {
    EXPECT_EQ(message("instance=Studio 2"), std::nullopt);
    EXPECT_EQ(message("return=instance"), std::nullopt);
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=")));
}

TEST_F(HostMessageTest, EventsAndCommandsAreDescribed) {
    EXPECT_THAT(message("_events"), Optional(Eq("notify=*")));
    EXPECT_THAT(message("_events=anything"), Optional(Eq("notify=*")));
    EXPECT_THAT(message("_commands"), Optional(Eq("myParam=[value]")));
    EXPECT_THAT(message("_commands.x=y"), Optional(Eq("myParam=[value]")));
}

TEST_F(HostMessageTest, EverythingElseIsAnsweredWithNothing) {
    for (const char* text : {"return", "return=", "return=xyz", "return=MYPARAM", "Return=all",
                             "myparam=1", "other=1", "=all", ".return=all", "", "_events2"}) {
        EXPECT_EQ(message(text), std::nullopt) << text;
    }
    EXPECT_EQ(message(nullptr), std::nullopt);
    EXPECT_THAT(message("return=all"), Optional(Eq("myParam=")));
}

TEST_F(HostMessageTest, MessagesSendNothingToTheHost) {
    message("myParam=1");
    message("instance=2");
    message("return=all");
    message("_events");
    EXPECT_TRUE(linesSent({}));
}

TEST_F(HostMessageTest, AStrayTimerIsStoppedAndNothingElseChanges) {
    press("1", "Select_4");
    host.clear();
    tick(3);
    tick(0);
    tick(-1);
    EXPECT_TRUE(linesSent({"ET 3", "ET 0", "ET -1"}));
    // The confirm window still has its ten ticks.
    tick(1, 9);
    EXPECT_TRUE(linesSent({}));
    tick(1);
    EXPECT_TRUE(linesSent(
        {"CD '1' 'Confirm'", "TP 'statesheet=ZRSourceDeselected' '1' 'Select_4'", "ET 1"}));
}

}  // namespace
