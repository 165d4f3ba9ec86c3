#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <variant>

#include "FakeScript.h"
#include "HostEngine.h"
#include "NameSeed.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

using namespace panelhost;

namespace {

const char* const kLayout = R"(<panel title="Test" width="400" height="300">
  <statesheet name="Lit"/>
  <button name="Go" x="1" y="1" width="10" height="10"/>
  <button name="Confirm" x="1" y="1" width="10" height="10" enabled="false"/>
  <label name="Title" x="1" y="1" width="10" height="10" text="Hello"/>
  <label name="Tally_1" x="1" y="1" width="10" height="10"/>
  <label name="Tally_2" x="1" y="1" width="10" height="10"/>
  <list name="Sources" x="1" y="1" width="10" height="10" items="128" pageSize="16"/>
  <keyboard name="Keys" x="1" y="1" width="10" height="10"/>
</panel>
)";

class HostEngineTest : public ::testing::Test {
  protected:
    HostEngineTest() : layout_(folder_.write("Test.tovi_ui", kLayout).string()) {}

    // Creates an instance whose fake script sends `startup`; returns its id.
    int create(const std::vector<std::string>& startup, FakeScript** made = nullptr) {
        FakeScript* script = nullptr;
        const int id = engine_.createInstance(
            [&](tovi_client_callback* host, const char*) {
                script = new FakeScript(host, startup);
                return script;
            },
            folder_.path().string());
        if (made != nullptr) {
            *made = script;
        }
        return id;
    }

    // Has the script of `instance` send `line`; returns what it got back.
    std::string run(int instance, const std::string& line) {
        std::optional<std::string> answer;
        const HostResult result = engine_.hostMessage(instance, "send=" + line, answer);
        EXPECT_TRUE(result.ok()) << result.error;
        return answer.value_or("<no answer>");
    }

    std::string message(int instance, const std::string& text) {
        std::optional<std::string> answer;
        engine_.hostMessage(instance, text, answer);
        return answer.value_or("<no answer>");
    }

    std::vector<std::string> logged(const std::string& kind) const {
        std::vector<std::string> texts;
        for (const LogEntry& entry : log_.since(0, 1000000)) {
            if (entry.kind == kind) {
                texts.push_back(entry.text);
            }
        }
        return texts;
    }

    bool loggedContaining(const std::string& kind, const std::string& part) const {
        for (const std::string& text : logged(kind)) {
            if (text.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::string pi() const { return "PI '1' '" + layout_ + "'"; }
    std::string ps() const { return "PS '1' '" + layout_ + "'"; }

    TempFolder folder_;
    DeviceCatalog catalog_ = DeviceCatalog::defaults();
    SqliteNameStore store_{folder_.path() / "names.db", NameSeed::forCatalog(catalog_)};
    EventLog log_{1000000};
    ChangeFeed feed_;
    TimerTable::TimePoint now_{};
    HostEngine engine_{catalog_, store_, log_, feed_, [this] { return now_; }};
    std::string layout_;
};

std::vector<std::string> texts(const FakeScript& script, int type) {
    std::vector<std::string> result;
    for (const auto& notice : script.notices) {
        if (notice.type == type) {
            result.push_back(notice.text);
        }
    }
    return result;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST_F(HostEngineTest, NotificationsOfStartUpWaitUntilTheFactoryReturns) {
    FakeScript* script = nullptr;
    create({"IR 57 211 212", "IP 57 211 212"}, &script);
    EXPECT_EQ(texts(*script, 1), (Texts{"57 211 2", "57 212 1"}));
    EXPECT_FALSE(script->reentered);
}

TEST_F(HostEngineTest, DeviceLookupAndNameReads) {
    const int id = create({});
    EXPECT_EQ(run(id, "SD 'CTA Tally Infodriver'"), "'57'");
    EXPECT_EQ(run(id, "SD 'StC_UMD_Names_DriverID'"), "'12'");
    EXPECT_EQ(run(id, "SD 'Nobody'"), "null");
    EXPECT_EQ(run(id, "RN 1 0 1"), "'Camera 1'");
    EXPECT_EQ(run(id, "RN 12 9 5"), "'Election'");
    EXPECT_EQ(run(id, "RN 12 5 37"), "'Line In 1'");
    EXPECT_EQ(run(id, "RN 12 10 1"), "null");
    EXPECT_EQ(run(id, "RN 12 1 129"), "null");
    EXPECT_EQ(run(id, "RN 0 1 1"), "null");
    EXPECT_TRUE(logged("error").empty());
}

TEST_F(HostEngineTest, ASlotWriteReachesEveryRegisteredInstanceTheWriterIncluded) {
    FakeScript* writer = nullptr;
    FakeScript* other = nullptr;
    FakeScript* elsewhere = nullptr;
    const int id = create({"IR 57 211 212"}, &writer);
    create({"IR 57 1 10", "IR 57 212 212 'ADD'"}, &other);
    create({"IR 57 211 211"}, &elsewhere);

    EXPECT_EQ(run(id, "IW 57 '5' 212 0"), "");
    EXPECT_EQ(texts(*writer, 1), (Texts{"57 212 5"}));
    EXPECT_EQ(texts(*other, 1), (Texts{"57 212 5"}));
    EXPECT_TRUE(texts(*elsewhere, 1).empty());
    EXPECT_EQ(store_.slot("CTA Tally Infodriver", 212), "5");
    EXPECT_FALSE(writer->reentered);

    run(id, "IU 57");
    run(id, "IW 57 '3' 212 0");
    EXPECT_EQ(texts(*writer, 1).size(), 1u);
    EXPECT_EQ(texts(*other, 1).size(), 2u);
}

TEST_F(HostEngineTest, ARegistrationWithoutAddReplacesTheEarlierOnes) {
    FakeScript* script = nullptr;
    const int id = create({"IR 57 1 10", "IR 57 211 212"}, &script);
    run(id, "IW 57 'x' 5 0");
    run(id, "IW 57 'y' 211 1");
    EXPECT_EQ(texts(*script, 1), (Texts{"57 211 y"}));
}

TEST_F(HostEngineTest, ANameWriteIsStoredRecordedAndNotifiedToRouterRegistrations) {
    FakeScript* watcher = nullptr;
    FakeScript* writer = nullptr;
    create({"RR 12 1 128"}, &watcher);
    const int id = create({}, &writer);

    run(id, "RM 12 5 37 'O'Brien's Cam' 0");
    EXPECT_EQ(texts(*watcher, 6), (Texts{"12 5 37 O'Brien's Cam"}));
    EXPECT_TRUE(texts(*writer, 6).empty());
    EXPECT_EQ(store_.name("StC_UMD_Names_DriverID", 5, 37), "O'Brien's Cam");
    const auto history = engine_.history(HistoryQuery{});
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].who, "panel instance 2");
    EXPECT_EQ(history[0].oldText, "Line In 1");
}

TEST_F(HostEngineTest, BadWritesAreLoggedAndChangeNothing) {
    FakeScript* watcher = nullptr;
    const int id = create({"RR 12 1 128", "IR 57 1 4096"}, &watcher);
    run(id, "RM 12 5 37 '" + std::string(257, 'x') + "' 0");
    run(id, "RM 12 10 1 'x' 0");
    run(id, "RM 57 1 1 'x' 0");
    run(id, "IW 57 '" + std::string(257, 'x') + "' 211 0");
    run(id, "IW 57 'x' 4097 0");
    run(id, "IW 1 'x' 1 0");
    EXPECT_EQ(logged("error").size(), 6u);
    EXPECT_TRUE(watcher->notices.empty());
    EXPECT_EQ(store_.name("StC_UMD_Names_DriverID", 5, 37), "Line In 1");
    EXPECT_TRUE(engine_.history(HistoryQuery{}).empty());
}

TEST_F(HostEngineTest, ChangesMadeElsewhereNotifyLikeTheCommands) {
    FakeScript* script = nullptr;
    create({"RR 12 1 128", "IR 57 212 212"}, &script);
    EXPECT_TRUE(engine_.writeName("api 127.0.0.1", 12, 9, 3, "Late News").ok());
    EXPECT_TRUE(engine_.writeSlot("api 127.0.0.1", 57, 212, "3").ok());
    EXPECT_EQ(texts(*script, 6), (Texts{"12 9 3 Late News"}));
    EXPECT_EQ(texts(*script, 1), (Texts{"57 212 3"}));
    EXPECT_EQ(engine_.history(HistoryQuery{})[0].who, "api 127.0.0.1");

    EXPECT_EQ(engine_.writeName("api", 12, 9, 129, "x").status, HostResult::Status::NotFound);
    EXPECT_EQ(engine_.writeName("api", 12, 9, 1, std::string(257, 'x')).status,
              HostResult::Status::Invalid);
    EXPECT_EQ(engine_.writeSlot("api", 1, 1, "x").status, HostResult::Status::Invalid);
    EXPECT_EQ(engine_.writeSlot("api", 5, 1, "x").status, HostResult::Status::NotFound);
}

// A script's write of a text that holds a control character (a name it
// read from an old data file, say) is the panel's change lost: logged as
// not stored, and nobody, the writer included, hears of it.
TEST_F(HostEngineTest, AScriptsWriteOfAControlCharacterIsLoggedAsNotStoredAndAnnouncedNowhere) {
    FakeScript* watcher = nullptr;
    FakeScript* writer = nullptr;
    create({"RR 12 1 128", "IR 57 1 4096"}, &watcher);
    const int id = create({"RR 12 1 128", "IR 57 1 4096"}, &writer);
    const auto changes = feed_.subscribe();

    run(id, "RM 12 5 37 'Cam\nhost info: admin logged in' 0");
    run(id, "RM 12 9 5 'News\x7f' 0");
    run(id, "IW 57 '2\t' 211 0");

    EXPECT_EQ(logged("error"),
              (Texts{"RM: not stored: the name of source 37 holds a control character (\\n) at "
                     "character 4",
                     "RM: not stored: the title of name set 5 holds a control character (\\x7f) "
                     "at character 5",
                     "IW: not stored: slot 211 holds a control character (\\t) at character 2"}));
    EXPECT_TRUE(watcher->notices.empty());
    EXPECT_TRUE(writer->notices.empty());
    for (const Change& change : changes->wait(std::chrono::milliseconds(0))) {
        EXPECT_FALSE(std::holds_alternative<NameChanged>(change.event) ||
                     std::holds_alternative<SlotChanged>(change.event))
            << "change " << change.id;
    }
    EXPECT_EQ(store_.name("StC_UMD_Names_DriverID", 5, 37), "Line In 1");
    EXPECT_EQ(store_.name("StC_UMD_Names_DriverID", 9, 5), "Election");
    EXPECT_EQ(store_.slot("CTA Tally Infodriver", 211), "2");
    EXPECT_TRUE(engine_.history(HistoryQuery{}).empty());
}

// The displays never get a router's control characters: each run of them
// becomes one space, which keeps apart the words a line break or a tab
// separated ('?' would pass for a letter the display cannot show), and the
// log says so once, when the label is taken.
TEST_F(HostEngineTest, ARoutersLabelWithControlCharactersIsTakenWithSpacesInTheirPlace) {
    FakeScript* script = nullptr;
    create({"RR 1 1 128"}, &script);
    ASSERT_TRUE(engine_.router().configure("127.0.0.1:9000"));
    RouterUpdate update;
    update.sourceLabels = {{8, "CAM 1\r\nWIDE"},
                           {9, std::string("VT\0"
                                           "5",
                                           4)}};
    update.destinationLabels = {{3, "MV\x1b[2J"}};
    engine_.applyRouter(update);

    EXPECT_EQ(texts(*script, 6), (Texts{"1 0 8 CAM 1 WIDE", "1 0 9 VT 5", "1 2 3 MV [2J"}));
    EXPECT_EQ(store_.name("StC SDI Router", 0, 8), "CAM 1 WIDE");
    EXPECT_EQ(
        logged("warning"),
        (Texts{"the router's label for source 8 holds a control character (\\r) at character 6; "
               "taken with a space for each run of them",
               "the router's label for source 9 holds a control character (\\x00) at character "
               "3; taken with a space for each run of them",
               "the router's label for destination 3 holds a control character (\\x1b) at "
               "character 3; taken with a space for each run of them"}));

    // The same labels again (a reconnect) change and log nothing.
    engine_.applyRouter(update);
    EXPECT_EQ(texts(*script, 6).size(), 3u);
    EXPECT_EQ(logged("warning").size(), 3u);
}

TEST_F(HostEngineTest, ARouterBehindTheRouterDeviceWritesNotifiesAndRoutesLikeAnyWrite) {
    FakeScript* script = nullptr;
    create({"RR 1 1 128"}, &script);
    const auto changes = feed_.subscribe();
    ASSERT_TRUE(engine_.router().configure("127.0.0.1:9000"));

    RouterUpdate update;
    update.link = RouterUpdate::Link::Up;
    update.detail = "matrix 0.1.0 'matrix', 16 targets x 16 sources";
    // A label longer than an entry holds is cut before the 'ü' that would
    // pass 256 bytes; entries and sources beyond the device's are left out.
    const std::string longLabel = std::string(255, 'x') + "\xC3\xBC";
    update.sourceLabels = {{8, "Kamera S\xC3\xBC\x64"}, {9, longLabel}, {129, "beyond"}};
    update.destinationLabels = {{3, "MV 4"}};
    update.crosspoints = {{3, 8}, {4, 300}, {129, 1}};
    engine_.applyRouter(update);

    EXPECT_EQ(texts(*script, 6), (Texts{"1 0 8 Kamera S\xC3\xBC\x64",
                                        "1 0 9 " + std::string(255, 'x'), "1 2 3 MV 4"}));
    EXPECT_EQ(store_.name("StC SDI Router", 2, 3), "MV 4");
    EXPECT_EQ(engine_.history(HistoryQuery{})[0].who, "router");
    EXPECT_EQ(engine_.router().crosspoints(), (std::map<int, int>{{3, 8}, {4, 0}}));
    EXPECT_EQ(store_.crosspoints("StC SDI Router"), engine_.router().crosspoints());
    Texts published;
    for (const Change& change : changes->wait(std::chrono::milliseconds(0))) {
        if (const auto* crosspoint = std::get_if<CrosspointChanged>(&change.event)) {
            published.push_back("crosspoint " + std::to_string(crosspoint->destination) + " " +
                                std::to_string(crosspoint->source));
        } else if (const auto* link = std::get_if<RouterLinkChanged>(&change.event)) {
            published.push_back(std::string("router ") +
                                (link->connected ? "connected " : "disconnected ") + link->detail);
        }
    }
    EXPECT_EQ(published,
              (Texts{"crosspoint 3 8", "crosspoint 4 0", "router connected " + update.detail}));

    // The same state again (a reconnect) writes and notifies nothing; the
    // link going down keeps what is known.
    const std::size_t written = engine_.history(HistoryQuery{}).size();
    engine_.applyRouter(update);
    RouterUpdate down;
    down.link = RouterUpdate::Link::Down;
    down.detail = "the provider closed the connection";
    engine_.applyRouter(down);
    EXPECT_EQ(engine_.history(HistoryQuery{}).size(), written);
    EXPECT_EQ(texts(*script, 6).size(), 3u);
    EXPECT_EQ(engine_.router().toJson()["state"], "disconnected");
    EXPECT_EQ(engine_.router().source(3), 8);
    EXPECT_EQ(engine_.devices().readName(1, 0, 8), "Kamera S\xC3\xBC\x64");
}

TEST_F(HostEngineTest, PanelsLoadShowAndGoAway) {
    const int id = create({});
    EXPECT_EQ(run(id, "PS '1' '" + folder_.path().string() + "/Missing.tovi_ui'"), "null");
    EXPECT_TRUE(loggedContaining("error", "Missing.tovi_ui:1: cannot be opened"));
    EXPECT_EQ(run(id, "PR '1'"), "null");

    EXPECT_EQ(run(id, pi()), "true");
    auto json = *engine_.instanceJson(id);
    EXPECT_EQ(json["shown"], nlohmann::json::array());
    EXPECT_EQ(run(id, ps()), "true");
    json = *engine_.instanceJson(id);
    EXPECT_EQ(json["shown"], nlohmann::json::array({"1"}));
    EXPECT_EQ(json["panels"][0]["controls"][0]["name"], "Go");
    EXPECT_EQ(run(id, "PR '1'"), "true");
    EXPECT_EQ((*engine_.instanceJson(id))["shown"], nlohmann::json::array());

    const std::string broken =
        folder_.write("Broken.tovi_ui", "<panel width=\"1\" height=\"1\">\n<label/>\n</panel>")
            .string();
    EXPECT_EQ(run(id, "PI '2' '" + broken + "'"), "null");
    EXPECT_TRUE(loggedContaining("error", "Broken.tovi_ui:2:"));
}

TEST_F(HostEngineTest, PropertiesHoldWhatWasPutAndAnswerTextGet) {
    const int id = create({pi()});
    run(id, "TP 'text=it's 'quoted'' '1' 'Title'");
    EXPECT_EQ(run(id, "TG '1' 'Title' 'text'"), "'text=it's 'quoted''");
    EXPECT_EQ(run(id, "TG '1' 'Title' 'colour'"), "'colour='");
    run(id, "TP 'a=b=c' '1' 'Title'");
    EXPECT_EQ(run(id, "TG '1' 'Title' 'a'"), "'a=b=c'");
    EXPECT_EQ(run(id, "TG '1' 'Go' 'all'"),
              "'enabled=true\nheight=10\nstatesheet=\ntext=\nvisible=true\nwidth=10\nx=1\ny=1'");
    EXPECT_EQ(run(id, "TG '1' 'Nope' 'text'"), "null");
    EXPECT_EQ(run(id, "TG '3' 'Go' 'text'"), "null");

    run(id, "CE '1' 'Confirm'");
    run(id, "CH '1' 'Go'");
    EXPECT_EQ(run(id, "TG '1' 'Confirm' 'enabled'"), "'enabled=true'");
    EXPECT_EQ(run(id, "TG '1' 'Go' 'visible'"), "'visible=false'");
    run(id, "CD '1' 'Confirm'");
    run(id, "CS '1' 'Go'");
    EXPECT_EQ(run(id, "TG '1' 'Confirm' 'enabled'"), "'enabled=false'");
    EXPECT_EQ(run(id, "TG '1' 'Go' 'visible'"), "'visible=true'");

    EXPECT_EQ(run(id, "XI '1' 'Tally_'"), "'Tally_1,Tally_2'");
    EXPECT_EQ(run(id, "XI '1' 'alm_'"), "''");
    EXPECT_EQ(run(id, "XI '2' 'alm_'"), "null");
    EXPECT_TRUE(logged("error").empty());

    run(id, "TP 'text' '1' 'Title'");
    run(id, "TP 'statesheet=Unknown' '1' 'Go'");
    EXPECT_EQ(logged("error").size(), 1u);
    EXPECT_TRUE(loggedContaining("warning", "statesheet 'Unknown' is not defined"));
}

TEST_F(HostEngineTest, MalformedLinesAreLoggedAndAnsweredNull) {
    const int id = create({});
    EXPECT_EQ(run(id, "RN 12 x 1"), "null");
    EXPECT_EQ(run(id, "TG '1' 'Go'"), "null");
    EXPECT_EQ(run(id, "QQ"), "");
    EXPECT_EQ(logged("error").size(), 3u);
    EXPECT_TRUE(loggedContaining("error", "malformed command line"));
}

TEST_F(HostEngineTest, TimersTickTheirInstanceUntilStopped) {
    FakeScript* script = nullptr;
    const int id = create({"ET 1 1000", "ET 2 500"}, &script);
    now_ += std::chrono::milliseconds(500);
    engine_.runTimers();
    EXPECT_EQ(texts(*script, 4), (Texts{"timer 2"}));
    run(id, "ET 2");
    now_ += std::chrono::milliseconds(500);
    engine_.runTimers();
    EXPECT_EQ(texts(*script, 4), (Texts{"timer 2", "timer 1"}));
    // Restarting timer 1 starts its interval again.
    now_ += std::chrono::milliseconds(600);
    run(id, "ET 1 1000");
    now_ += std::chrono::milliseconds(600);
    engine_.runTimers();
    EXPECT_EQ(texts(*script, 4).size(), 2u);
    now_ += std::chrono::milliseconds(400);
    engine_.runTimers();
    EXPECT_EQ(texts(*script, 4).size(), 3u);
    EXPECT_EQ(engine_.nextTimerDue(), now_ + std::chrono::milliseconds(1000));
}

TEST_F(HostEngineTest, ATickQueuedBeforeItsTimerStoppedIsDropped) {
    FakeScript* script = nullptr;
    create({"ET 1 100", "ET 2 100"}, &script);
    script->react = [](FakeScript& self, const FakeScript::Notice& notice) {
        if (notice.text == "timer 1") {
            self.send("ET 2");
        }
    };
    now_ += std::chrono::milliseconds(100);
    engine_.runTimers();
    EXPECT_EQ(texts(*script, 4), (Texts{"timer 1"}));
}

TEST_F(HostEngineTest, AnswersMustBeHandedBackOnceAndInTime) {
    const int id = create({});
    message(id, "keep=RN 1 0 1");
    EXPECT_TRUE(loggedContaining("error",
                                 "the answer to \"RN 1 0 1\" was not handed back "
                                 "before the next command"));
    EXPECT_TRUE(loggedContaining("error", "the answer to \"RN 1 0 1\" was never handed back"));
    const auto before = logged("error").size();
    message(id, "twice=SD 'StC SDI Router'");
    EXPECT_TRUE(loggedContaining("error", "handed the same answer back twice"));
    message(id, "bogus");
    EXPECT_TRUE(loggedContaining("error", "not an outstanding answer"));
    EXPECT_EQ(logged("error").size(), before + 2);
    // A null answer to "RN" is handed back as null: nothing to report.
    EXPECT_EQ(run(id, "RN 99 1 1"), "null");
    EXPECT_EQ(logged("error").size(), before + 2);
}

TEST_F(HostEngineTest, EveryProperHandBackIsLoggedRightAfterItsAnswer) {
    const int id = create({});
    run(id, "RN 1 0 1");
    // A null answer has nothing to hand back.
    run(id, "RN 99 1 1");
    // The second hand-back is an error, not a hand-back.
    message(id, "twice=SD 'StC SDI Router'");
    Texts kinds;
    for (const LogEntry& entry : log_.since(0, 1000000)) {
        if (entry.instance == id && (entry.kind == "answer" || entry.kind == "release")) {
            kinds.push_back(entry.kind);
        }
    }
    EXPECT_EQ(kinds, (Texts{"answer", "release", "answer", "answer", "release"}));
}

TEST_F(HostEngineTest, ControlEventsReachTheScriptAfterTheControlHasActed) {
    FakeScript* script = nullptr;
    const int id = create({pi(), ps()}, &script);
    std::vector<std::string> typed;
    script->react = [&typed](FakeScript& self, const FakeScript::Notice& notice) {
        if (notice.type == 2 && notice.text.find("Keys") != std::string::npos) {
            typed.push_back(self.send("TG '1' 'Keys' 'text'"));
        }
    };
    EXPECT_TRUE(engine_.controlEvent(id, "1", "Go", "button=pressed").ok());
    EXPECT_TRUE(engine_.controlEvent(id, "1", "Sources", "select=37").ok());
    EXPECT_TRUE(engine_.controlEvent(id, "1", "Keys", "key.A").ok());
    EXPECT_TRUE(engine_.controlEvent(id, "1", "Keys", "key.return").ok());
    EXPECT_EQ(texts(*script, 2), (Texts{"1 Go button=pressed", "1 Sources select=37",
                                        "1 Keys key.A", "1 Keys key.return"}));
    EXPECT_EQ(typed, (Texts{"'text=A'", "'text=A'"}));
    EXPECT_EQ(run(id, "TG '1' 'Sources' 'index'"), "'index=37'");
}

TEST_F(HostEngineTest, ControlEventsAreRefusedWhereAnOperatorCouldNotAct) {
    FakeScript* script = nullptr;
    const int id = create({pi()}, &script);
    using Status = HostResult::Status;
    EXPECT_EQ(engine_.controlEvent(id, "1", "Go", "button=pressed").status, Status::Conflict);
    run(id, ps());
    EXPECT_EQ(engine_.controlEvent(id, "1", "Confirm", "button=pressed").status, Status::Conflict);
    run(id, "CH '1' 'Go'");
    EXPECT_EQ(engine_.controlEvent(id, "1", "Go", "button=pressed").status, Status::Conflict);
    EXPECT_EQ(engine_.controlEvent(id, "1", "Nope", "button=pressed").status, Status::NotFound);
    EXPECT_EQ(engine_.controlEvent(id, "2", "Go", "button=pressed").status, Status::NotFound);
    EXPECT_EQ(engine_.controlEvent(id, "1", "Title", "button=pressed").status, Status::Invalid);
    EXPECT_EQ(engine_.controlEvent(9, "1", "Go", "button=pressed").status, Status::NotFound);
    EXPECT_TRUE(texts(*script, 2).empty());
}

TEST_F(HostEngineTest, DestroyingAnInstanceEndsWithGoodbyeAndForgetsIt) {
    FakeScript* watcher = nullptr;
    const int id = create({"IR 57 212 212", "ET 1 100"}, &watcher);
    const int other = create({});
    EXPECT_TRUE(engine_.destroyInstance(id).ok());
    std::vector<std::string> commands;
    for (const LogEntry& entry : log_.since(0, 1000000)) {
        if (entry.instance == id && entry.kind == "command") {
            commands.push_back(entry.text);
        }
    }
    EXPECT_EQ(commands.back(), "AS");
    EXPECT_FALSE(engine_.nextTimerDue().has_value());
    run(other, "IW 57 '4' 212 0");
    EXPECT_EQ(engine_.instanceIds(), std::vector<int>{other});
    EXPECT_EQ(engine_.destroyInstance(id).status, HostResult::Status::NotFound);
    EXPECT_TRUE(logged("warning").empty());
}

TEST_F(HostEngineTest, CommandsAfterGoodbyeAreIgnored) {
    FakeScript* script = nullptr;
    const int id = create({"AS", "IR 57 212 212"}, &script);
    EXPECT_TRUE(loggedContaining("error", "a command after \"AS\" is ignored"));
    std::optional<std::string> answer;
    EXPECT_EQ(engine_.hostMessage(id, "send=RN 1 0 1", answer).status,
              HostResult::Status::Conflict);
    EXPECT_TRUE(engine_.writeSlot("api", 57, 212, "2").ok());
    EXPECT_TRUE(script->notices.empty());
    script->sayGoodbye = false;
}

TEST_F(HostEngineTest, AScriptThatIsDestroyedWithoutGoodbyeIsReported) {
    FakeScript* script = nullptr;
    const int id = create({}, &script);
    script->sayGoodbye = false;
    engine_.destroyInstance(id);
    EXPECT_TRUE(loggedContaining("warning", "without sending \"AS\""));
}

TEST_F(HostEngineTest, AFactoryThatMakesNoScriptIsAnError) {
    EXPECT_THROW(engine_.createInstance(
                     [](tovi_client_callback* host, const char*) {
                         host->deliver(const_cast<char*>("IR 57 1 2"), 0);
                         return static_cast<tovi_client_callback*>(nullptr);
                     },
                     "x"),
                 std::runtime_error);
    EXPECT_TRUE(engine_.instanceIds().empty());
}

// The event stream shows them with replacement characters (ChangeJsonTest).
TEST_F(HostEngineTest, TextsThatAreNotUtf8AreKeptAsBytesAlsoOnTheChangeFeed) {
    const auto stream = feed_.subscribe();
    const int id = create({pi()});
    // A single-byte code page's e-acute, and a name cut inside a character.
    EXPECT_EQ(run(id, "TP 'text=Caf\xe9' '1' 'Title'"), "");
    EXPECT_EQ(run(id, "RM 12 5 37 'Cam\xc3' 0"), "");

    EXPECT_FALSE(loggedContaining("error", "exception"));
    EXPECT_EQ(run(id, "TG '1' 'Title' 'text'"), "'text=Caf\xe9'");
    EXPECT_EQ(run(id, "RN 12 5 37"), "'Cam\xc3'");
    Texts published;
    for (const Change& change : stream->wait(std::chrono::milliseconds(0))) {
        if (const auto* control = std::get_if<ControlChanged>(&change.event)) {
            published.push_back(control->value);
        } else if (const auto* name = std::get_if<NameChanged>(&change.event)) {
            published.push_back(name->text);
        }
    }
    EXPECT_EQ(published, (Texts{"Caf\xe9", "Cam\xc3"}));
}
