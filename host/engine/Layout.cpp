#include "Layout.h"

namespace panelhost {

const char* controlKindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Button:
            return "button";
        case ControlKind::Label:
            return "label";
        case ControlKind::List:
            return "list";
        case ControlKind::ButtonGroup:
            return "buttongroup";
        case ControlKind::Keyboard:
            return "keyboard";
    }
    return "label";
}

const ControlSpec* Layout::control(std::string_view name) const {
    for (const ControlSpec& controlSpec : controls) {
        if (controlSpec.name == name) {
            return &controlSpec;
        }
    }
    return nullptr;
}

const Statesheet* Layout::statesheet(std::string_view name) const {
    for (const Statesheet& sheet : statesheets) {
        if (sheet.name == name) {
            return &sheet;
        }
    }
    return nullptr;
}

}  // namespace panelhost
