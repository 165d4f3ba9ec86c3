#include "Layout.h"

#include <algorithm>

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

namespace {

// The item of `items` called `name`, or null.
template <typename Item>
const Item* named(const std::vector<Item>& items, std::string_view name) {
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const Item& item) { return item.name == name; });
    return found == items.end() ? nullptr : &*found;
}

}  // namespace

const ControlSpec* Layout::control(std::string_view name) const {
    return named(controls, name);
}

const Statesheet* Layout::statesheet(std::string_view name) const {
    return named(statesheets, name);
}

}  // namespace panelhost
