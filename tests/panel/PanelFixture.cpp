#include "PanelFixture.h"

#include <gmock/gmock.h>

namespace {
constexpr int kSources = 128;
constexpr int kRouterNamesDatabase = 0;
constexpr int kRouterSecondDatabase = 2;
constexpr int kFirstSet = 1;
constexpr int kLastSet = 8;
constexpr int kTitlesDatabase = 9;

// Titles of sets 1 to 8, as a studio would name them.
const char* const kTitles[kLastSet] = {"Studio A", "Studio B", "Newsroom", "Sport",
                                       "Gallery",  "Playout",  "Edit One", "Edit Two"};
}  // namespace

PanelFixture::PanelFixture() {
    host.answerDevice("StC SDI Router", std::to_string(kRouter));
    host.answerDevice("CTA Tally Infodriver", std::to_string(kTally));
    host.answerDevice("StC_UMD_Names_DriverID", std::to_string(kNames));
    for (int source = 1; source <= kSources; ++source) {
        host.answerName(kRouter, kRouterNamesDatabase, source, routerName(source));
        host.answerName(kRouter, kRouterSecondDatabase, source, secondName(source));
        for (int set = kFirstSet; set <= kLastSet; ++set) {
            host.answerName(kNames, set, source, setName(set, source));
        }
    }
    for (int set = kFirstSet; set <= kLastSet; ++set) {
        host.answerName(kNames, kTitlesDatabase, set, title(set));
    }
}

void PanelFixture::TearDown() {
    destroyPanel();
    EXPECT_THAT(host.protocolErrors(), ::testing::IsEmpty());
}

void PanelFixture::startPanel() {
    startPanel(&host, kPanelPath);
}

void PanelFixture::startPanel(tovi_client_callback* panelHost, const char* path) {
    panel = load_tovi_client_script(panelHost, path);
    ASSERT_NE(panel, nullptr);
}

void PanelFixture::startAndClear() {
    startPanel();
    host.clear();
}

void PanelFixture::destroyPanel() {
    tovi_destroy(panel);
    panel = nullptr;
}

::testing::AssertionResult PanelFixture::linesSent(const Lines& expected) {
    const Lines sent = host.commands();
    host.clear();
    return sameLines(sent, expected);
}

void PanelFixture::press(const std::string& panelId, const std::string& control) {
    driver().controlEvent(panelId, control, "button.pressed");
}

void PanelFixture::pickSource(const std::string& value) {
    driver().controlEvent("2", "SrcName", "selected=" + value);
}

void PanelFixture::typeKey(const std::string& keyboardText) {
    host.answerProperty("2", "KB_1", "text", keyboardText);
    driver().controlEvent("2", "KB_1", "key.a");
}

void PanelFixture::pressReturn(const std::string& keyboardText) {
    host.answerProperty("2", "KB_1", "text", keyboardText);
    driver().controlEvent("2", "KB_1", "key.return");
}

void PanelFixture::holdPostEdit(const std::string& text) {
    host.answerProperty("2", "PostEdit", "text", text);
}

void PanelFixture::tick(int timerId, int count) {
    for (int i = 0; i < count; ++i) {
        driver().timerTick(timerId);
    }
}

std::string PanelFixture::routerName(int source) {
    return "SDI " + std::to_string(source);
}

std::string PanelFixture::secondName(int source) {
    return "MV " + std::to_string(source);
}

std::string PanelFixture::setName(int set, int source) {
    return "S" + std::to_string(set) + " Src " + std::to_string(source);
}

std::string PanelFixture::title(int set) {
    return kTitles[set - 1];
}
