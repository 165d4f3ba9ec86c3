#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace panelhost {

// The kinds of control a layout file may hold. Each kind decides which event
// texts it sends (ControlEvents).
enum class ControlKind { Button, Label, List, ButtonGroup, Keyboard };

const char* controlKindName(ControlKind kind);

// One button of a button group: the value its selection sends and its caption.
struct GroupMember {
    std::string value;
    std::string text;
};

// A control as the layout file declares it. `properties` are its starting
// properties (every attribute but its name, plus the defaults of its kind).
struct ControlSpec {
    std::string name;
    ControlKind kind = ControlKind::Label;
    int line = 0;
    std::map<std::string, std::string> properties;
    std::vector<GroupMember> members;
};

// A named style that a control's "statesheet" property selects.
struct Statesheet {
    std::string name;
    std::map<std::string, std::string> style;
};

// A parsed layout file: the panel's size and title, its statesheets and its
// controls in file order. Immutable once parsed.
struct Layout {
    std::string file;
    std::string title;
    int width = 0;
    int height = 0;
    // Further attributes of the panel itself, such as its background.
    std::map<std::string, std::string> style;
    std::vector<Statesheet> statesheets;
    std::vector<ControlSpec> controls;

    const ControlSpec* control(std::string_view name) const;
    const Statesheet* statesheet(std::string_view name) const;
};

}  // namespace panelhost
