#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Layout.h"

namespace panelhost {

// One panel that a script loaded: its layout and the live properties of its
// controls. Properties start as the layout declares them and then hold what
// "TP", "CD", "CE", "CH", "CS" set and what the operator did.
class LoadedPanel {
  public:
    using Properties = std::map<std::string, std::string>;

    LoadedPanel(std::string id, std::shared_ptr<const Layout> layout);

    const std::string& id() const { return id_; }
    const Layout& layout() const { return *layout_; }

    bool shown() const { return shown_; }
    void setShown(bool shown) { shown_ = shown; }

    const ControlSpec* controlSpec(std::string_view control) const {
        return layout_->control(control);
    }

    // The live properties of `control`, or null when the panel has no such
    // control. The pointer stays valid while the panel lives.
    Properties* properties(std::string_view control);
    const Properties* properties(std::string_view control) const;

    // A property of a control: nothing when the control does not exist, the
    // empty text when the control has never had that property.
    std::optional<std::string> property(std::string_view control, std::string_view name) const;

    // Names of the controls whose names start with `prefix`, in file order.
    std::vector<std::string> controlNames(std::string_view prefix) const;

    // The panel as the HTTP API shows it: layout, statesheets, and every
    // control with its kind and live properties, in file order.
    nlohmann::json toJson() const;

  private:
    std::string id_;
    std::shared_ptr<const Layout> layout_;
    bool shown_ = false;
    std::map<std::string, Properties, std::less<>> controls_;
};

}  // namespace panelhost
