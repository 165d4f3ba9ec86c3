#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingHost.h"
#include "ScriptDriver.h"
#include "TestScript.h"

namespace {

using Strings = std::vector<std::string>;

class AlarmButtons : public ::testing::Test {
protected:
    RecordingHost host;
    TestScript script{&host, ""};
    ScriptDriver driver{&script};

    void SetUp() override {
        script.handleAlarms = true;
        host.answerLine("XI '1' 'alm_'", "alm_a,alm_b,alm_c");
        host.answerProperty("1", "alm_a", "value", "1");
        host.answerProperty("1", "alm_b", "value", "5");
        host.answerProperty("1", "alm_c", "value", "6");
    }
    void TearDown() override { EXPECT_EQ(host.protocolErrors(), Strings{}); }
};

TEST_F(AlarmButtons, AckAllAcknowledgesUnacknowledgedAndOutOfRangeStates) {
    driver.controlEvent("2", "AckAll", "button=pressed");
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(host.commands(),
              (Strings{"XI '1' 'alm_'", "TP 'alarm=4' '1' 'alm_a'", "TG '1' 'alm_a' 'value'",
                       "TP 'value=4' '1' 'alm_a'", "TP 'alarm=4' '1' 'alm_b'",
                       "TG '1' 'alm_b' 'value'", "TP 'alarm=4' '1' 'alm_c'",
                       "TG '1' 'alm_c' 'value'", "TP 'value=4' '1' 'alm_c'"}));
}

TEST_F(AlarmButtons, AckActionAcknowledgesLikeAckAll) {
    host.answerProperty("1", "alm_b", "value", "-1");
    driver.controlEvent("1", "ActionAll", "alarm=ack");
    EXPECT_EQ(host.commands(),
              (Strings{"XI '1' 'alm_'", "TP 'alarm=ack' '1' 'alm_a'", "TG '1' 'alm_a' 'value'",
                       "TP 'value=4' '1' 'alm_a'", "TP 'alarm=ack' '1' 'alm_b'",
                       "TG '1' 'alm_b' 'value'", "TP 'value=4' '1' 'alm_b'",
                       "TP 'alarm=ack' '1' 'alm_c'", "TG '1' 'alm_c' 'value'",
                       "TP 'value=4' '1' 'alm_c'"}));
}

TEST_F(AlarmButtons, DigitActionSetsStateWithoutReadingIt) {
    driver.controlEvent("1", "ActionAll", "alarm=2");
    EXPECT_EQ(host.commands(),
              (Strings{"XI '1' 'alm_'", "TP 'alarm=2' '1' 'alm_a'", "TP 'value=2' '1' 'alm_a'",
                       "TP 'alarm=2' '1' 'alm_b'", "TP 'value=2' '1' 'alm_b'",
                       "TP 'alarm=2' '1' 'alm_c'", "TP 'value=2' '1' 'alm_c'"}));
}

TEST_F(AlarmButtons, LongerActionsSetOnlyTheAlarmProperty) {
    driver.controlEvent("1", "ActionAll", "alarm=reset");
    EXPECT_EQ(host.commands(),
              (Strings{"XI '1' 'alm_'", "TP 'alarm=reset' '1' 'alm_a'",
                       "TP 'alarm=reset' '1' 'alm_b'", "TP 'alarm=reset' '1' 'alm_c'"}));
}

TEST_F(AlarmButtons, OtherEventsOfActionAllGoToThePanel) {
    driver.controlEvent("1", "ActionAll", "button=pressed");
    EXPECT_EQ(script.calls.size(), 1u);
    EXPECT_TRUE(host.commands().empty());
}

TEST_F(AlarmButtons, NoIndicatorsMeansNothingMoreIsSent) {
    host.forgetAnswer("XI '1' 'alm_'");
    driver.controlEvent("1", "AckAll", "");
    EXPECT_EQ(host.commands(), Strings{"XI '1' 'alm_'"});
}

TEST_F(AlarmButtons, UnansweredStateReadIsLeftAlone) {
    host.forgetAnswer("TG '1' 'alm_a' 'value'");
    driver.controlEvent("1", "AckAll", "");
    EXPECT_EQ(host.commands()[3], "TP 'alarm=4' '1' 'alm_b'");
}

}  // namespace
