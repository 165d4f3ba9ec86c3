#include "LoadedPanel.h"

#include <utility>

namespace panelhost {

LoadedPanel::LoadedPanel(std::string id, std::shared_ptr<const Layout> layout)
    : id_(std::move(id)), layout_(std::move(layout)) {
    for (const ControlSpec& controlSpec : layout_->controls) {
        controls_.emplace(controlSpec.name, controlSpec.properties);
    }
}

LoadedPanel::Properties* LoadedPanel::properties(std::string_view control) {
    const auto found = controls_.find(control);
    return found == controls_.end() ? nullptr : &found->second;
}

const LoadedPanel::Properties* LoadedPanel::properties(std::string_view control) const {
    const auto found = controls_.find(control);
    return found == controls_.end() ? nullptr : &found->second;
}

std::optional<std::string> LoadedPanel::property(std::string_view control,
                                                 std::string_view name) const {
    const Properties* props = properties(control);
    if (props == nullptr) {
        return std::nullopt;
    }
    const auto found = props->find(std::string(name));
    return found == props->end() ? std::string() : found->second;
}

std::vector<std::string> LoadedPanel::controlNames(std::string_view prefix) const {
    std::vector<std::string> names;
    for (const ControlSpec& controlSpec : layout_->controls) {
        if (controlSpec.name.compare(0, prefix.size(), prefix) == 0) {
            names.push_back(controlSpec.name);
        }
    }
    return names;
}

}  // namespace panelhost

namespace panelhost {

nlohmann::json LoadedPanel::toJson() const {
    nlohmann::json sheets = nlohmann::json::object();
    for (const Statesheet& sheet : layout_->statesheets) {
        sheets[sheet.name] = sheet.style;
    }
    nlohmann::json controls = nlohmann::json::array();
    for (const ControlSpec& controlSpec : layout_->controls) {
        nlohmann::json control{{"name", controlSpec.name},
                               {"kind", controlKindName(controlSpec.kind)},
                               {"properties", controls_.at(controlSpec.name)}};
        if (controlSpec.kind == ControlKind::ButtonGroup) {
            nlohmann::json members = nlohmann::json::array();
            for (const GroupMember& member : controlSpec.members) {
                members.push_back({{"value", member.value}, {"text", member.text}});
            }
            control["members"] = members;
        }
        controls.push_back(control);
    }
    return {{"panel", id_},
            {"file", layout_->file},
            {"title", layout_->title},
            {"width", layout_->width},
            {"height", layout_->height},
            {"style", layout_->style},
            {"shown", shown_},
            {"statesheets", sheets},
            {"controls", controls}};
}

}  // namespace panelhost
