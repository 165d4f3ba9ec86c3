#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RecordingHost.h"
#include "ScriptDriver.h"
#include "TestScript.h"
#include "tovi_event_text.h"

namespace {

using Strings = std::vector<std::string>;

TEST(EventTextParse, NamesSubFieldsAndValues) {
    {
        tovi_event_text t("return=all");
        EXPECT_STREQ(t.name, "return");
        EXPECT_STREQ(t.value, "all");
        EXPECT_TRUE(t.hasValue);
        EXPECT_EQ(t.subCount, 0);
    }
    {
        tovi_event_text t("a.b.c=d.e");
        EXPECT_STREQ(t.name, "a");
        EXPECT_EQ(t.subCount, 2);
        EXPECT_STREQ(t.subs[0], "b");
        EXPECT_STREQ(t.subs[1], "c");
        EXPECT_STREQ(t.value, "d.e");
    }
    {
        tovi_event_text t("a=b=c");
        EXPECT_STREQ(t.name, "a");
        EXPECT_STREQ(t.value, "b=c");
    }
    {
        tovi_event_text t("=x");
        EXPECT_STREQ(t.name, "");
        EXPECT_STREQ(t.value, "x");
    }
    {
        tovi_event_text t(".x");
        EXPECT_STREQ(t.name, "");
        EXPECT_EQ(t.subCount, 1);
        EXPECT_STREQ(t.subs[0], "x");
    }
    {
        tovi_event_text t("abc");
        EXPECT_STREQ(t.name, "abc");
        EXPECT_EQ(t.subCount, 0);
        EXPECT_STREQ(t.value, "");
        EXPECT_FALSE(t.hasValue);
    }
    {
        tovi_event_text t("a.");
        EXPECT_STREQ(t.name, "a");
        EXPECT_EQ(t.subCount, 1);
        EXPECT_STREQ(t.subs[0], "");
    }
}

TEST(EventTextParse, NullAndEmptyTextsPointAtOneEmptyText) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        tovi_event_text t(text);
        EXPECT_EQ(t.buffer, nullptr);
        EXPECT_EQ(t.subCount, 0);
        EXPECT_FALSE(t.hasValue);
        EXPECT_STREQ(t.name, "");
        EXPECT_EQ(t.name, t.value);
        for (const char* sub : t.subs) {
            EXPECT_EQ(sub, t.name);
        }
    }
}

TEST(EventTextParse, ThirtyTwoSubFieldsAtMostAndTheLastKeepsTheRest) {
    std::string text = "n";
    for (int i = 1; i <= 33; ++i) {
        text += "." + std::to_string(i);
    }
    text += "=v";
    tovi_event_text t(text.c_str());
    EXPECT_EQ(t.subCount, 32);
    EXPECT_STREQ(t.subs[30], "31");
    EXPECT_STREQ(t.subs[31], "32.33=v");
    EXPECT_FALSE(t.hasValue);
    EXPECT_STREQ(t.value, "");
}

class Dispatch : public ::testing::Test {
protected:
    RecordingHost host;
    TestScript* script = new TestScript(&host, "D:/panels");
    ScriptDriver driver{script};

    void TearDown() override {
        delete script;
        EXPECT_EQ(host.protocolErrors(), Strings{});
    }
};

TEST_F(Dispatch, ConstructionStoresHostAndPathAndSendsNothing) {
    EXPECT_EQ(script->host, &host);
    EXPECT_STREQ(script->panelPath.data(), "D:/panels");
    EXPECT_FALSE(script->handleAlarms);
    EXPECT_TRUE(host.commands().empty());
}

TEST_F(Dispatch, EachTypeReachesItsHandler) {
    driver.revertive(57, 212, "5");
    driver.controlEvent("2", "SrcName", "select=37");
    driver.timerTick(2);
    driver.databaseChange(12, 5, 37, "Camera 9");
    int word = 0;
    EXPECT_EQ(script->deliver(&word, 7), nullptr);
    EXPECT_EQ(script->calls, (Strings{"revertive 57 212 5", "control 2 SrcName select 37",
                                      "timer 2", "database 12 5 37 Camera 9", "type7 data"}));
}

TEST_F(Dispatch, UnknownTypesAndMissingRecordsCallNothing) {
    int word = 0;
    for (int type : {0, 8, -1, 100}) {
        EXPECT_EQ(script->deliver(&word, type), nullptr);
    }
    EXPECT_EQ(script->deliver(nullptr, 1), nullptr);
    EXPECT_EQ(script->deliver(nullptr, 2), nullptr);
    EXPECT_EQ(script->deliver(nullptr, 6), nullptr);
    EXPECT_EQ(script->deliver(nullptr, 5), nullptr);
    EXPECT_TRUE(script->calls.empty());
}

TEST_F(Dispatch, HostMessageAnswersAreScriptOwnedBlocksFreedByRelease) {
    script->hostAnswer = "myParam=x";
    char text[] = "return=all";
    void* answer = script->deliver(text, 3);
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(static_cast<const char*>(answer), "myParam=x");
    EXPECT_EQ(script->deliver(answer, 5), nullptr);  // freed; the sanitizers watch this
    EXPECT_EQ(script->calls, Strings{"message return all"});

    script->hostAnswer.clear();
    EXPECT_EQ(script->deliver(text, 3), nullptr);
    EXPECT_EQ(script->deliver(nullptr, 3), nullptr);
    EXPECT_EQ(script->calls.back(), "message  ");
}

TEST_F(Dispatch, AlarmButtonsReachThePanelWhileScreeningIsOff) {
    driver.controlEvent("1", "AckAll", "button=pressed");
    driver.controlEvent("1", "ActionAll", "alarm=ack");
    EXPECT_EQ(script->calls.size(), 2u);
    EXPECT_TRUE(host.commands().empty());
}

TEST_F(Dispatch, DestructionSendsAsLast) {
    script->putText("text=", "2", "KB_1");
    delete script;
    script = nullptr;
    EXPECT_EQ(host.commands(), (Strings{"TP 'text=' '2' 'KB_1'", "AS"}));
}

TEST(DispatchWithoutHost, HandlersRunAndNothingIsSent) {
    auto* script = new TestScript(nullptr, nullptr);
    ScriptDriver driver(script);
    driver.controlEvent("1", "Confirm", "button=pressed");
    EXPECT_EQ(script->calls.size(), 1u);
    EXPECT_STREQ(script->panelPath.data(), "");
    delete script;  // sends no "AS" and does not fail
}

}  // namespace
