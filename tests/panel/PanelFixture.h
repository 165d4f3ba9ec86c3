#pragma once

#include <gtest/gtest.h>

#include <string>

#include "LineDiff.h"
#include "RecordingHost.h"
#include "ScriptDriver.h"
#include "tovi_client_callback.h"

// The plugin's export, linked in from the panel's sources.
extern "C" tovi_client_callback* load_tovi_client_script(tovi_client_callback* host,
                                                         const char* path);

// A studio as the panel finds it: a recording host that knows the router
// (device 3), the tally infodriver (57) and the names infodriver (12), and
// answers every name and title start-up reads. The panel is made only
// through the export and driven only through deliver(); every test ends
// with the panel destroyed and the host's hand-back protocol checked.
class PanelFixture : public ::testing::Test {
  protected:
    static constexpr int kRouter = 3;
    static constexpr int kTally = 57;
    static constexpr int kNames = 12;
    static constexpr char kPanelPath[] = "/srv/panels";

    PanelFixture();
    void TearDown() override;

    // Creates the panel for `host` (the fixture's host by default; null for
    // a panel without one) and fails the test at once when it cannot.
    void startPanel();
    void startPanel(tovi_client_callback* panelHost, const char* path);
    // startPanel(), then forgets the start-up's lines.
    void startAndClear();
    // Destroys the panel, if any, as the host does.
    void destroyPanel();

    // Succeeds when the lines sent since the last check are exactly
    // `expected`; starts the next check afresh either way.
    ::testing::AssertionResult linesSent(const Lines& expected);

    // Notifications, as the host delivers them.
    ScriptDriver driver() { return ScriptDriver(panel); }
    void press(const std::string& panelId, const std::string& control);
    // Picks an entry of the editor's list "SrcName"; `value` is as the list sends it.
    void pickSource(const std::string& value);
    // A key on "KB_1" while the keyboard holds `keyboardText`.
    void typeKey(const std::string& keyboardText);
    // The return key while the keyboard holds `keyboardText`.
    void pressReturn(const std::string& keyboardText);
    // The host's answer to the read-back of "PostEdit".
    void holdPostEdit(const std::string& text);
    void tick(int timerId, int count = 1);

    // What the studio's devices hold.
    static std::string routerName(int source);
    static std::string secondName(int source);
    static std::string setName(int set, int source);
    static std::string title(int set);

    RecordingHost host;
    tovi_client_callback* panel = nullptr;
};
