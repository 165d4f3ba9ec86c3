#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Layout.h"
#include "LoadedPanel.h"

namespace panelhost {

// A property that an operator event changed on its control.
struct PropertyChange {
    std::string property;
    std::string value;
};

// The event texts each kind of control sends, and what an event does to the
// control's own properties before the script hears of it:
//   button       "button=pressed"
//   list         "select=N", N a row from 1 to "items"; sets "index" to N
//   buttongroup  "select=V", V the value of a member; sets "value" to V and
//                the member's "button.NNN" to pressed, the others to released
//   keyboard     "key.K", one sub-field: a single printable character other
//                than '.', '=' and blank, or one of the named keys "space",
//                "period", "equals" (which type that character), "backspace"
//                (removes the last one) and "return" (ends typing); the typed
//                text is the property "text"
//   label        sends nothing
class ControlEvents {
  public:
    // Longest text a keyboard holds: what one record can carry.
    static constexpr std::size_t kKeyboardCapacity = 256;

    struct Outcome {
        // Empty when the event is accepted; otherwise why it is refused.
        std::string error;
        std::vector<PropertyChange> changes;
    };

    // Checks `event` against the kind of `controlSpec` and, when it is one the
    // control sends, applies its effect to `properties`.
    static Outcome apply(const ControlSpec& controlSpec, LoadedPanel::Properties& properties,
                         std::string_view event);
};

}  // namespace panelhost
