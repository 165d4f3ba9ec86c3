// Editing a source name: the pick, typing under the 16-character limit,
// the return key, and the take prompt's three endings.
#include <gmock/gmock.h>

#include <algorithm>

#include "ExpectedLines.h"
#include "PanelFixture.h"

namespace {
using expected::control;
using expected::kReadKeyboard;
using expected::put;

class SourceEditTest : public PanelFixture {
  protected:
    void SetUp() override { startAndClear(); }

    // Opens source `source` of set 1 and ends typing with `text`.
    void reachTakePrompt(int source, const std::string& text) {
        pickSource(std::to_string(source));
        pressReturn(text);
        host.clear();
    }
};

TEST_F(SourceEditTest, PickingASourceOpensItForTyping) {
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 37", "S1 Src 37")));
}

TEST_F(SourceEditTest, TheListsEndsAreSourcesZeroAndOneHundredTwentyEight) {
    pickSource("128");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 128", "S1 Src 128")));
    pressReturn("Last");
    holdPostEdit("Last");
    host.clear();
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 128 'Last' 0")));

    pickSource("0");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "", "")));
    pressReturn("Zero");
    holdPostEdit("Zero");
    host.clear();
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 0 'Zero' 0")));
}

TEST_F(SourceEditTest, APickOutsideTheTablesOrNotANumberIsIgnored) {
    for (const char* value : {"129", "1000", "-1", "abc", "3x", " 3", "", "2147483648"}) {
        pickSource(value);
    }
    driver().controlEvent("2", "SrcName", "selected");
    EXPECT_TRUE(linesSent({}));
}

TEST_F(SourceEditTest, AnIgnoredPickLeavesTheEditUnderWayAlone) {
    reachTakePrompt(37, "Camera 1");
    pickSource("129");
    pickSource("abc");
    EXPECT_TRUE(linesSent({}));
    holdPostEdit("Camera 1");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Camera 1' 0")));
}

TEST_F(SourceEditTest, KeysWithinTheLimitOnlyReadTheKeyboard) {
    pickSource("5");
    host.clear();
    typeKey("C");
    typeKey("Camera");
    typeKey("Sixteen chars ok");
    EXPECT_TRUE(linesSent({kReadKeyboard, kReadKeyboard, kReadKeyboard}));
}

TEST_F(SourceEditTest, TheSeventeenthCharacterIsCutAndTheTextPutBack) {
    pickSource("5");
    host.clear();
    typeKey("Seventeen chars!!");
    EXPECT_TRUE(linesSent({kReadKeyboard, put("text=Seventeen chars!", "2", "KB_1")}));
}

TEST_F(SourceEditTest, ReturnCutsToSixteenAndStartsTheTakePrompt) {
    pickSource("37");
    host.clear();
    pressReturn("Twenty characters!!!");
    EXPECT_TRUE(linesSent(concat({{kReadKeyboard}, expected::takePrompt("Twenty character")})));
}

TEST_F(SourceEditTest, KeyboardEventsWithoutExactlyOneSubFieldAreIgnored) {
    pickSource("37");
    host.clear();
    host.answerProperty("2", "KB_1", "text", "typed");
    for (const char* event : {"key.return.now", "key.a.b", "key", "return", "key=return", ""}) {
        driver().controlEvent("2", "KB_1", event);
    }
    EXPECT_TRUE(linesSent({}));
}

TEST_F(SourceEditTest, UpdateWritesTheNameAndStoresIt) {
    reachTakePrompt(37, "Camera 1");
    holdPostEdit("Camera 1");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Camera 1' 0")));

    // The table holds the new name before any database change reports it.
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 37", "Camera 1")));
}

TEST_F(SourceEditTest, EveryWrittenNameIsCopiedToTheDebugOutput) {
    reachTakePrompt(37, "Camera 1");
    holdPostEdit("Camera 1");
    press("2", "Update");
    const Lines& transcript = host.transcript();
    const auto written = std::find(transcript.begin(), transcript.end(), "RM 12 1 37 'Camera 1' 0");
    ASSERT_NE(written, transcript.end());
    ASSERT_NE(written + 1, transcript.end());
    EXPECT_EQ(*(written + 1), "debug: RM 12 1 37 'Camera 1' 0\n");
}

TEST_F(SourceEditTest, UpdateWritesWhatPostEditHolds) {
    reachTakePrompt(37, "Camera 1");
    holdPostEdit("Camera 2");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Camera 2' 0")));
}

TEST_F(SourceEditTest, AnUnansweredReadBackWritesTheTextHeldSinceReturn) {
    reachTakePrompt(37, "Camera 1");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Camera 1' 0")));
}

TEST_F(SourceEditTest, AReadBackOfAnotherPropertyWritesTheTextHeldSinceReturn) {
    reachTakePrompt(37, "Camera 1");
    host.answerLine(expected::kReadPostEdit, "index=3");
    press("2", "Update");
    EXPECT_THAT(host.debugLines(),
                ::testing::ElementsAre(
                    "textGet: value returned \"index\" was not the value requested \"text\" "
                    "(value returned was \"index=3\" from control \"PostEdit\", on panel \"2\")",
                    "RM 12 1 37 'Camera 1' 0\n"));
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Camera 1' 0")));
}

TEST_F(SourceEditTest, AnUnansweredKeyboardReadKeepsTheTextSoFar) {
    pickSource("37");
    typeKey("Cam");
    host.forgetAnswer(kReadKeyboard);
    host.clear();
    driver().controlEvent("2", "KB_1", "key.b");
    driver().controlEvent("2", "KB_1", "key.return");
    EXPECT_TRUE(linesSent(concat({{kReadKeyboard, kReadKeyboard}, expected::takePrompt("Cam")})));
}

TEST_F(SourceEditTest, AKeyboardReadOfAnotherPropertyKeepsTheTextSoFar) {
    pickSource("37");
    host.answerLine(kReadKeyboard, "index=2");
    host.clear();
    driver().controlEvent("2", "KB_1", "key.return");
    EXPECT_TRUE(linesSent(concat({{kReadKeyboard}, expected::takePrompt("S1 Src 37")})));
    holdPostEdit("S1 Src 37");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'S1 Src 37' 0")));
}

TEST_F(SourceEditTest, CancelDropsTheEditWithoutWriting) {
    reachTakePrompt(37, "Camera 1");
    press("2", "Cancel");
    EXPECT_TRUE(linesSent(expected::cancelEdit()));
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 37", "S1 Src 37")));
}

TEST_F(SourceEditTest, TheTakePromptFlashesAndRunsOutOnTheTwentiethTick) {
    reachTakePrompt(37, "Camera 1");
    Lines flashes;
    for (int left = 19; left >= 1; --left) {
        flashes = concat({flashes, expected::takeTick(left)});
    }
    ASSERT_EQ(flashes.front(), put("statesheet=ZR_TakeHigh", "2", "Cancel"));
    ASSERT_EQ(flashes[1], put("statesheet=ZR_TakeLow", "2", "Update"));
    tick(2, 19);
    EXPECT_TRUE(linesSent(flashes));
    tick(2);
    EXPECT_TRUE(linesSent(concat({{put("statesheet=ZR_TakeLow", "2", "Cancel"),
                                   put("statesheet=ZR_TakeHigh", "2", "Update"), "ET 2"},
                                  expected::cancelEdit()})));
    pickSource("37");
    EXPECT_TRUE(linesSent(expected::sourceEdit(1, "SDI 37", "S1 Src 37")));
}

TEST_F(SourceEditTest, UpdateStopsTheTakePromptPartWay) {
    reachTakePrompt(37, "Camera 1");
    tick(2, 7);
    host.clear();
    holdPostEdit("Camera 1");
    press("2", "Update");
    EXPECT_TRUE(linesSent(expected::commitSource("RM 12 1 37 'Camera 1' 0")));
}

TEST_F(SourceEditTest, ANewEditRunsAFullTakePrompt) {
    reachTakePrompt(37, "Camera 1");
    tick(2, 15);
    press("2", "Cancel");
    reachTakePrompt(38, "Camera 2");
    tick(2, 19);
    host.clear();
    tick(2);
    EXPECT_TRUE(linesSent(concat({{put("statesheet=ZR_TakeLow", "2", "Cancel"),
                                   put("statesheet=ZR_TakeHigh", "2", "Update"), "ET 2"},
                                  expected::cancelEdit()})));
}

TEST_F(SourceEditTest, PagingTheListPassesThePageOn) {
    driver().controlEvent("2", "SrcGroup", "button.002=2");
    driver().controlEvent("2", "SrcGroup", "button.003=page 3");
    EXPECT_TRUE(linesSent({put("page=2", "2", "SrcName"), put("page=page 3", "2", "SrcName")}));
}

}  // namespace
