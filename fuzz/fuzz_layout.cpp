// The layout parser on arbitrary bytes: a text is either refused with a
// message naming the file and one of its lines, or it yields a layout that
// keeps every promise the host relies on and that the HTTP API can show.
// A broken promise aborts with its text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "JsonText.h"
#include "LayoutParser.h"
#include "LoadedPanel.h"

namespace {

using panelhost::ControlKind;
using panelhost::ControlSpec;
using panelhost::Layout;

constexpr const char* kFile = "fuzz.tovi_ui";

bool isFlag(const ControlSpec& controlSpec, const char* property) {
    const auto found = controlSpec.properties.find(property);
    return found != controlSpec.properties.end() &&
           (found->second == "true" || found->second == "false");
}

// The first promise a control breaks; empty when it keeps them all.
std::string brokenControl(const Layout& layout, const ControlSpec& controlSpec) {
    if (controlSpec.name.empty() || controlSpec.name.find('\'') != std::string::npos) {
        return "control name \"" + controlSpec.name + "\" is empty or holds an apostrophe";
    }
    if (!isFlag(controlSpec, "enabled") || !isFlag(controlSpec, "visible")) {
        return "control \"" + controlSpec.name + "\" lacks a true/false enabled or visible";
    }
    if (controlSpec.properties.count("text") == 0 ||
        controlSpec.properties.count("statesheet") == 0) {
        return "control \"" + controlSpec.name + "\" lacks a text or statesheet property";
    }
    const std::string& sheet = controlSpec.properties.at("statesheet");
    if (!sheet.empty() && layout.statesheet(sheet) == nullptr) {
        return "control \"" + controlSpec.name + "\" uses the undefined statesheet \"" + sheet +
               "\"";
    }
    if (controlSpec.kind != ControlKind::ButtonGroup) {
        return controlSpec.members.empty() ? ""
                                           : "control \"" + controlSpec.name + "\" has members";
    }
    std::set<std::string> values;
    for (const auto& member : controlSpec.members) {
        if (member.value.empty() || !values.insert(member.value).second) {
            return "buttongroup \"" + controlSpec.name + "\" has an empty or repeated member value";
        }
    }
    if (values.empty()) {
        return "buttongroup \"" + controlSpec.name + "\" has no members";
    }
    return "";
}

std::string brokenLayout(const Layout& layout) {
    if (layout.width < 1 || layout.height < 1) {
        return "the panel has no area";
    }
    std::set<std::string> sheets;
    for (const auto& sheet : layout.statesheets) {
        if (sheet.name.empty() || !sheets.insert(sheet.name).second) {
            return "statesheet \"" + sheet.name + "\" is unnamed or defined twice";
        }
    }
    std::set<std::string> names;
    for (const ControlSpec& controlSpec : layout.controls) {
        const std::string broken = brokenControl(layout, controlSpec);
        if (!broken.empty()) {
            return broken;
        }
        if (!names.insert(controlSpec.name).second) {
            return "control \"" + controlSpec.name + "\" appears twice";
        }
    }
    const panelhost::LoadedPanel panel("1", std::make_shared<const Layout>(layout));
    for (const ControlSpec& controlSpec : layout.controls) {
        const panelhost::LoadedPanel::Properties* live = panel.properties(controlSpec.name);
        if (live == nullptr || *live != controlSpec.properties) {
            return "control \"" + controlSpec.name +
                   "\" does not start with its declared properties";
        }
    }
    if (panel.controlNames("").size() != layout.controls.size()) {
        return "the controls listed by an empty prefix are not all the controls";
    }
    try {
        panelhost::jsonText(panel.toJson());
    } catch (const std::exception& thrown) {
        return std::string("the panel cannot be shown as JSON: ") + thrown.what();
    }
    return "";
}

// A refusal must read "FILE:LINE: why", LINE a line of the text.
std::string brokenMessage(const std::string& message, const std::string& text) {
    const std::string prefix = std::string(kFile) + ":";
    if (message.rfind(prefix, 0) != 0) {
        return "the message does not start with the file: " + message;
    }
    const std::size_t colon = message.find(':', prefix.size());
    const std::string line = message.substr(prefix.size(), colon - prefix.size());
    const auto lines = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (colon == std::string::npos || line.empty() ||
        line.find_first_not_of("0123456789") != std::string::npos || line.size() > 9 ||
        std::stol(line) < 1 || std::stol(line) > lines) {
        return "the message does not name a line of the text: " + message;
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string broken;
    try {
        broken = brokenLayout(panelhost::LayoutParser::parseText(text, kFile));
    } catch (const panelhost::LayoutError& error) {
        broken = brokenMessage(error.what(), text);
    }
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant violated: %s\n", broken.c_str());
        __builtin_trap();
    }
    return 0;
}
