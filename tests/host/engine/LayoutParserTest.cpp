#include <gtest/gtest.h>

#include "ControlEvents.h"
#include "LayoutParser.h"
#include "LoadedPanel.h"
#include "TempFolder.h"

using panelhost::ControlEvents;
using panelhost::ControlKind;
using panelhost::Layout;
using panelhost::LayoutError;
using panelhost::LayoutParser;
using panelhost::LoadedPanel;

namespace {

const char* const kLayout = R"(<?xml version="1.0"?>
<panel title="Test" width="400" height="300">
  <statesheet name="Lit" background="#0f0"/>
  <button name="Go" x="1" y="2" width="30" height="20" text="Go" statesheet="Lit"/>
  <button name="Confirm" x="1" y="30" width="30" height="20" enabled="false"/>
  <label name="Title" x="1" y="60" width="100" height="20" text="Hello"/>
  <list name="Sources" x="1" y="90" width="100" height="100" items="128" pageSize="16"/>
  <buttongroup name="Pages" x="120" y="90" width="100" height="20">
    <member value="1" text="1-16"/>
    <member value="2" text="17-32"/>
  </buttongroup>
  <keyboard name="Keys" x="1" y="200" width="300" height="90"/>
</panel>
)";

std::string errorOf(const std::string& text) {
    try {
        LayoutParser::parseText(text, "bad.tovi_ui");
    } catch (const LayoutError& error) {
        return error.what();
    }
    return "";
}

std::string body(const std::string& controls) {
    return "<panel width=\"10\" height=\"10\">\n" + controls + "\n</panel>\n";
}

}  // namespace

TEST(LayoutParser, ReadsControlsWithTheirStartingProperties) {
    const Layout layout = LayoutParser::parseText(kLayout, "test.tovi_ui");
    EXPECT_EQ(layout.title, "Test");
    EXPECT_EQ(layout.width, 400);
    ASSERT_EQ(layout.controls.size(), 6u);
    EXPECT_EQ(layout.controls[0].name, "Go");
    EXPECT_EQ(layout.controls[0].line, 4);
    EXPECT_EQ(layout.controls[0].properties.at("statesheet"), "Lit");
    EXPECT_EQ(layout.controls[0].properties.at("enabled"), "true");
    EXPECT_EQ(layout.control("Confirm")->properties.at("enabled"), "false");
    EXPECT_EQ(layout.control("Sources")->kind, ControlKind::List);
    EXPECT_EQ(layout.control("Sources")->properties.at("page"), "1");
    const auto& pages = *layout.control("Pages");
    ASSERT_EQ(pages.members.size(), 2u);
    EXPECT_EQ(pages.members[1].value, "2");
    EXPECT_EQ(pages.properties.at("button.002"), "released");
    EXPECT_EQ(layout.statesheet("Lit")->style.at("background"), "#0f0");
}

TEST(LayoutParser, MalformedFilesNameFileAndLine) {
    EXPECT_EQ(errorOf("<panel width=\"10\" height=\"10\">\n<button name=\"a\"\n</panel>"),
              "bad.tovi_ui:3: not well-formed XML: Error parsing start element tag");
    EXPECT_EQ(errorOf("<screen/>"),
              "bad.tovi_ui:1: the root element must be <panel>, not <screen>");
    EXPECT_EQ(errorOf("<panel width=\"0\" height=\"10\"/>"),
              "bad.tovi_ui:1: attribute \"width\" must be a whole number of at least 1, not \"0\"");
    EXPECT_EQ(errorOf(body("<button x=\"1\" y=\"1\" width=\"1\" height=\"1\"/>")),
              "bad.tovi_ui:2: <button> needs a non-empty \"name\"");
    EXPECT_EQ(errorOf(body("<button name=\"a\" x=\"1\" y=\"1\" width=\"1\"/>")),
              "bad.tovi_ui:2: <button> lacks the attribute \"height\"");
    EXPECT_EQ(errorOf(body("<slider name=\"a\"/>")), "bad.tovi_ui:2: unknown element <slider>");
    EXPECT_EQ(errorOf(body("<label name=\"a\" x=\"1\" y=\"1\" width=\"1\" height=\"1\"/>\n"
                           "<label name=\"a\" x=\"1\" y=\"1\" width=\"1\" height=\"1\"/>")),
              "bad.tovi_ui:3: control \"a\" is defined twice");
    EXPECT_EQ(errorOf(body("<label name=\"a\" x=\"1\" y=\"1\" width=\"1\" height=\"1\" "
                           "statesheet=\"Nope\"/>")),
              "bad.tovi_ui:2: statesheet \"Nope\" is not defined in this file");
    EXPECT_EQ(errorOf(body("<label name=\"a\" x=\"1\" y=\"1\" width=\"1\" height=\"1\" "
                           "enabled=\"yes\"/>")),
              "bad.tovi_ui:2: attribute \"enabled\" must be true or false, not \"yes\"");
    EXPECT_EQ(errorOf(body("<list name=\"a\" x=\"1\" y=\"1\" width=\"1\" height=\"1\" "
                           "pageSize=\"4\"/>")),
              "bad.tovi_ui:2: <list> lacks the attribute \"items\"");
    EXPECT_EQ(errorOf(body("<buttongroup name=\"g\" x=\"1\" y=\"1\" width=\"1\" height=\"1\">\n"
                           "</buttongroup>")),
              "bad.tovi_ui:2: buttongroup \"g\" has no <member>");
    EXPECT_EQ(errorOf(body("<label name=\"it's\" x=\"1\" y=\"1\" width=\"1\" height=\"1\"/>")),
              "bad.tovi_ui:2: control name \"it's\" must not contain an apostrophe");
}

TEST(LayoutParser, AMissingFileIsAnError) {
    TempFolder folder;
    EXPECT_THROW(LayoutParser::parseFile(folder.path() / "none.tovi_ui"), LayoutError);
    const auto file = folder.write("ok.tovi_ui", kLayout);
    EXPECT_EQ(LayoutParser::parseFile(file).file, file.string());
}

class ControlEventsTest : public ::testing::Test {
  protected:
    ControlEventsTest()
        : panel_("1",
                 std::make_shared<const Layout>(LayoutParser::parseText(kLayout, "test.tovi_ui"))) {
    }

    ControlEvents::Outcome send(const std::string& control, const std::string& event) {
        return ControlEvents::apply(*panel_.controlSpec(control), *panel_.properties(control),
                                    event);
    }

    LoadedPanel panel_;
};

TEST_F(ControlEventsTest, ButtonsSendPressedOnly) {
    EXPECT_TRUE(send("Go", "button=pressed").error.empty());
    EXPECT_FALSE(send("Go", "button=released").error.empty());
    EXPECT_FALSE(send("Title", "button=pressed").error.empty());
}

TEST_F(ControlEventsTest, AListSelectsARowWithinItsItems) {
    EXPECT_TRUE(send("Sources", "select=37").error.empty());
    EXPECT_EQ(panel_.property("Sources", "index"), "37");
    for (const char* bad : {"select=0", "select=129", "select=x", "select=", "index=3"}) {
        EXPECT_FALSE(send("Sources", bad).error.empty()) << bad;
    }
    EXPECT_EQ(panel_.property("Sources", "index"), "37");
}

TEST_F(ControlEventsTest, AButtonGroupPressesOneMember) {
    const auto outcome = send("Pages", "select=2");
    EXPECT_TRUE(outcome.error.empty());
    EXPECT_EQ(panel_.property("Pages", "value"), "2");
    EXPECT_EQ(panel_.property("Pages", "button.001"), "released");
    EXPECT_EQ(panel_.property("Pages", "button.002"), "pressed");
    EXPECT_EQ(outcome.changes.size(), 3u);
    EXPECT_FALSE(send("Pages", "select=3").error.empty());
}

TEST_F(ControlEventsTest, AKeyboardKeepsWhatIsTyped) {
    for (const char* key : {"key.C", "key.a", "key.m", "key.space", "key.period", "key.equals",
                            "key.x", "key.backspace", "key.return"}) {
        EXPECT_TRUE(send("Keys", key).error.empty()) << key;
    }
    EXPECT_EQ(panel_.property("Keys", "text"), "Cam .=");
    for (const char* bad : {"key", "key.", "key.ab", "key. ", "key.é", "text=x", "key.a.b"}) {
        EXPECT_FALSE(send("Keys", bad).error.empty()) << bad;
    }
    EXPECT_EQ(panel_.property("Keys", "text"), "Cam .=");
}

TEST_F(ControlEventsTest, AFullKeyboardRefusesMoreKeys) {
    (*panel_.properties("Keys"))["text"] = std::string(ControlEvents::kKeyboardCapacity, 'a');
    EXPECT_FALSE(send("Keys", "key.b").error.empty());
    EXPECT_TRUE(send("Keys", "key.backspace").error.empty());
}

TEST_F(ControlEventsTest, PanelsListControlsByPrefixInFileOrder) {
    EXPECT_EQ(panel_.controlNames("Co"), std::vector<std::string>{"Confirm"});
    EXPECT_EQ(panel_.controlNames("").size(), 6u);
    EXPECT_FALSE(panel_.property("Nope", "text").has_value());
    EXPECT_EQ(panel_.property("Go", "never"), "");
}
