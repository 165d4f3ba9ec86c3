#pragma once

#include <map>
#include <string>

#include "LoadedPanel.h"

namespace panelhost {

// What the host keeps for one panel instance apart from the script object:
// the panels it loaded, by panel id, and whether it has said goodbye ("AS").
struct PanelInstance {
    int id = 0;
    std::map<std::string, LoadedPanel> panels;
    bool saidGoodbye = false;

    // How the history and the log name this instance as a writer.
    std::string who() const { return "panel instance " + std::to_string(id); }
};

}  // namespace panelhost
