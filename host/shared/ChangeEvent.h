#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "EventLog.h"

namespace panelhost {

// The changes the host announces on its change feed, each with the fields
// that say what changed. Texts are the bytes as stored (a script's text need
// not be UTF-8); the HTTP floor turns a change into the event stream's JSON
// (ChangeJson), so nothing below it formats for the browser.

// A panel instance was created or destroyed.
struct InstanceChanged {
    enum class State { Created, Destroyed };
    int instance = 0;
    State state = State::Created;
};

// A property of a control changed, by a script or an operator's event.
struct ControlChanged {
    int instance = 0;
    std::string panel;
    std::string control;
    std::string property;
    std::string value;
};

// A panel of an instance was loaded, shown or removed from view.
struct PanelChanged {
    enum class State { Loaded, Shown, Removed };
    int instance = 0;
    std::string panel;
    std::string file;
    State state = State::Loaded;
};

// An infodriver slot took a new text.
struct SlotChanged {
    int device = 0;
    int index = 0;
    std::string text;
    std::string who;
};

// A name of a name database changed from `old` to `text`.
struct NameChanged {
    int device = 0;
    int database = 0;
    int index = 0;
    std::string text;
    std::string old;
    std::string who;
};

// Router destination `destination` now shows source `source` (0: none the
// device holds).
struct CrosspointChanged {
    int destination = 0;
    int source = 0;
};

// The link to the router came up or went down.
struct RouterLinkChanged {
    bool connected = false;
    std::string detail;
};

// A display receiver's link changed state (`state` as the TSL floor names
// it) or counted packets.
struct DisplayReceiverChanged {
    std::string target;
    std::string state;
    std::string detail;
    std::uint64_t packetsSent = 0;
    std::uint64_t packetsDropped = 0;
};

// The display output sent the new brightness to every display.
struct DisplayBrightnessSent {};

// The display output sent the new name of source `source`.
struct DisplayNameSent {
    int source = 0;
};

// The display output sent what router destination `destination` shows now.
struct DisplayRoutedSent {
    int destination = 0;
};

// The display output sent the whole wall of name set `nameset`.
struct DisplayWallSent {
    int nameset = 0;
};

// Whether this host drives display target `target` (counted from 1), and
// the host that does, when known.
struct DisplayDriverChanged {
    std::size_t target = 0;
    bool driving = false;
    std::optional<std::string> driver;
};

// The tally lamps of sources changed: what a vision mixer sent, or an input
// that fell silent going off. Colours are "off", "red", "green" or "amber".
struct DisplayTallyChanged {
    struct Lamps {
        int source = 0;
        std::string right;
        std::string text;
        std::string left;
        // The 3.1 tallies 1 to 4, bits 0 to 3.
        int tallies31 = 0;
        // The tally inputs whose lamps are on, as given on the command line.
        std::vector<std::string> inputs;
    };
    std::vector<Lamps> sources;
};

// A tally input fell silent for longer than the stale time, or sends again.
struct TallyInputChanged {
    std::string input;
    bool stale = false;
    std::uint64_t packets = 0;
    std::uint64_t dropped = 0;
};

using ChangeEvent =
    std::variant<InstanceChanged, ControlChanged, PanelChanged, SlotChanged, NameChanged,
                 CrosspointChanged, RouterLinkChanged, LogEntry, DisplayReceiverChanged,
                 DisplayBrightnessSent, DisplayNameSent, DisplayRoutedSent, DisplayWallSent,
                 DisplayDriverChanged, DisplayTallyChanged, TallyInputChanged>;

}  // namespace panelhost
