#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingHost.h"
#include "TestScript.h"

namespace {

using Strings = std::vector<std::string>;

class Commands : public ::testing::Test {
protected:
    RecordingHost host;
    TestScript script{&host, ""};

    void TearDown() override { EXPECT_EQ(host.protocolErrors(), Strings{}); }
};

TEST_F(Commands, ControlCommands) {
    script.disableControl("2", "Cancel");
    script.enableControl("2", "Cancel");
    script.hideControl("2", "Cancel");
    script.showControl("2", "Cancel");
    script.putText("index=0", "2", "SrcName");
    script.putProperty("text", "Camera 1", "1", "Names_1");
    script.putProperty("text", "", "1", "Names_1");
    script.putProperty("text", "O'Brien's cam", "1", "Names_2");
    EXPECT_EQ(host.commands(),
              (Strings{"CD '2' 'Cancel'", "CE '2' 'Cancel'", "CH '2' 'Cancel'", "CS '2' 'Cancel'",
                       "TP 'index=0' '2' 'SrcName'", "TP 'text=Camera 1' '1' 'Names_1'",
                       "TP 'text=' '1' 'Names_1'", "TP 'text=O'Brien's cam' '1' 'Names_2'"}));
}

TEST_F(Commands, PanelCommandsJoinThePathWithASlashAlways) {
    EXPECT_TRUE(script.loadPanel("1", "Selector.tovi_ui", ""));
    script.panelPath = "D:/panels";
    EXPECT_TRUE(script.loadPanel("1", "Selector.tovi_ui", ""));
    script.panelPath = "D:/panels/";
    EXPECT_TRUE(script.loadPanel("1", "Selector.tovi_ui", ""));
    script.panelPath = "";
    EXPECT_TRUE(script.showPanel("2", "NameEdit.tovi_ui", "x y"));
    EXPECT_TRUE(script.removePanel("1"));
    EXPECT_EQ(host.commands(),
              (Strings{"PI '1' 'Selector.tovi_ui'", "PI '1' 'D:/panels/Selector.tovi_ui'",
                       "PI '1' 'D:/panels//Selector.tovi_ui'", "PS '2' 'NameEdit.tovi_ui' 'x y'",
                       "PR '1'"}));
    host.setPanelCommandsSucceed(false);
    EXPECT_FALSE(script.loadPanel("1", "Selector.tovi_ui", ""));
    EXPECT_FALSE(script.showPanel("1", "Selector.tovi_ui", ""));
    EXPECT_FALSE(script.removePanel("1"));
}

TEST_F(Commands, NumericCommands) {
    script.startTimer(2, 500);
    script.startTimer(2, 0);
    script.stopTimer(2);
    script.registerInfodriver(57, 211, 212, false);
    script.registerInfodriver(57, 211, 212, true);
    script.registerRouter(3, 1, 128, false);
    script.registerRouter(3, 1, 128, true);
    script.pollInfodriver(57, 211, 212);
    script.unregisterInfodriver(57);
    script.unregisterInfodriver(-4);
    EXPECT_EQ(host.commands(),
              (Strings{"ET 2 500", "ET 2", "ET 2", "IR 57 211 212", "IR 57 211 212 'ADD'",
                       "RR 3 1 128", "RR 3 1 128 'ADD'", "IP 57 211 212", "IU 57", "IU -4"}));
}

TEST_F(Commands, NumbersTooWideForTheShortBufferAreNeverCut) {
    script.registerInfodriver(-2147483647 - 1, -2147483647 - 1, -2147483647 - 1, true);
    EXPECT_EQ(host.commands(),
              Strings{"IR -2147483648 -2147483648 -2147483648 'ADD'"});
}

TEST_F(Commands, WriteInfodriverWarnsAboutLongTextsButSendsThemWhole) {
    const std::string exact(256, 'a');
    const std::string over(257, 'b');
    script.writeInfodriver(57, "2", 211, false);
    script.writeInfodriver(57, exact.c_str(), 212, true);
    EXPECT_TRUE(host.debugLines().empty());
    script.writeInfodriver(57, over.c_str(), 212, false);
    script.writeInfodriver(57, "%1 %2", 212, false);
    EXPECT_EQ(host.transcript(),
              (Strings{"IW 57 '2' 211 0", "IW 57 '" + exact + "' 212 1",
                       "debug: The IW string is too long (max 256 chars)\n",
                       "IW 57 '" + over + "' 212 0", "IW 57 '%1 %2' 212 0"}));
}

TEST_F(Commands, WriteNameSendsTheNameExactlyAndCopiesTheLineToDebugOutput) {
    script.writeName(12, 9, 3, "Studio", false);
    script.writeName(12, 5, 37, "A%5B", true);
    script.writeName(12, 5, 38, "it's", false);
    EXPECT_EQ(host.transcript(),
              (Strings{"RM 12 9 3 'Studio' 0", "debug: RM 12 9 3 'Studio' 0\n",
                       "RM 12 5 37 'A%5B' 1", "debug: RM 12 5 37 'A%5B' 1\n",
                       "RM 12 5 38 'it's' 0", "debug: RM 12 5 38 'it's' 0\n"}));
}

TEST_F(Commands, ReadNameCopiesTheAnswerAndHandsEveryAnswerBack) {
    host.answerName(3, 0, 1, "Camera 1");
    tovi_string name("previous");
    script.readName(3, 0, 1, name);
    EXPECT_STREQ(name.data(), "Camera 1");
    script.readName(3, 0, 2, name);  // null answer: keeps what it held
    EXPECT_STREQ(name.data(), "Camera 1");
    EXPECT_EQ(host.commands(), (Strings{"RN 3 0 1", "RN 3 0 2"}));
    EXPECT_EQ(host.handBacks(), 2);
    EXPECT_EQ(host.nullHandBacks(), 1);
}

TEST_F(Commands, TextGetTakesTheValueOfTheRequestedProperty) {
    tovi_string result("stale");
    host.answerProperty("2", "KB_1", "text", "Camera 1");
    EXPECT_TRUE(script.textGet("text", "2", "KB_1", result));
    EXPECT_STREQ(result.data(), "Camera 1");
    EXPECT_EQ(host.commands(), Strings{"TG '2' 'KB_1' 'text'"});

    host.answerProperty("2", "KB_1", "text", "a=b");
    EXPECT_TRUE(script.textGet("text", "2", "KB_1", result));
    EXPECT_STREQ(result.data(), "a=b");

    host.answerLine("TG '2' 'KB_1' 'all'", "text=x,enabled=1");
    EXPECT_TRUE(script.textGet("all", "2", "KB_1", result));
    EXPECT_STREQ(result.data(), "text=x,enabled=1");
    EXPECT_EQ(host.handBacks(), 3);
    EXPECT_TRUE(host.debugLines().empty());
}

TEST_F(Commands, TextGetReportsAnswersForAnotherPropertyAndNullAnswers) {
    tovi_string result("stale");
    host.answerLine("TG '2' 'KB_1' 'text'", "index=3");
    EXPECT_FALSE(script.textGet("text", "2", "KB_1", result));
    EXPECT_STREQ(result.data(), "");
    EXPECT_EQ(host.debugLines(),
              Strings{"textGet: value returned \"index\" was not the value requested \"text\" "
                      "(value returned was \"index=3\" from control \"KB_1\", on panel \"2\")"});

    host.answerLine("TG '2' 'KB_1' 'text'", "Text=%1");  // case matters; markers stay
    EXPECT_FALSE(script.textGet("text", "2", "KB_1", result));
    EXPECT_EQ(host.debugLines().back(),
              "textGet: value returned \"Text\" was not the value requested \"text\" (value "
              "returned was \"Text=%1\" from control \"KB_1\", on panel \"2\")");

    result = "stale";
    host.forgetAnswer("TG '2' 'KB_1' 'text'");
    EXPECT_FALSE(script.textGet("text", "2", "KB_1", result));
    EXPECT_STREQ(result.data(), "");
    EXPECT_EQ(host.handBacks(), 2);  // nothing handed back after a null answer
}

TEST_F(Commands, DebugOutFillsTheFormatOnceWithTheValuesAsGiven) {
    script.debugOut("as is %1");
    script.debugOut("%1 then %2 and %3.", "a%2", "b", "", "", "", "", "", "", "");
    EXPECT_EQ(host.debugLines(), (Strings{"as is %1", "a%2 then b and ."}));
}

TEST(CommandsWithoutHost, NothingIsSentAndResultsAreAsIfDone) {
    RecordingHost debugSink;  // collects the debug lines only
    TestScript script(nullptr, "D:/panels");
    EXPECT_TRUE(script.loadPanel("1", "Selector.tovi_ui", ""));
    EXPECT_TRUE(script.showPanel("1", "Selector.tovi_ui", ""));
    EXPECT_TRUE(script.removePanel("1"));
    tovi_string name("kept");
    script.readName(3, 0, 1, name);
    EXPECT_STREQ(name.data(), "kept");
    tovi_string result("stale");
    EXPECT_FALSE(script.textGet("text", "2", "KB_1", result));
    EXPECT_STREQ(result.data(), "");
    script.writeName(12, 5, 37, "Cam", false);
    script.writeInfodriver(57, std::string(300, 'x').c_str(), 211, false);
    EXPECT_EQ(debugSink.debugLines(),
              (Strings{"RM 12 5 37 'Cam' 0\n", "The IW string is too long (max 256 chars)\n"}));
    EXPECT_TRUE(debugSink.commands().empty());
}

}  // namespace
