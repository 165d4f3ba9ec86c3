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
    // Who operates the instance while one of their events or messages is
    // delivered (an account and the client's address); empty otherwise.
    std::string actor;

    // How the history and the log name this instance as a writer: with the
    // person operating it when the write answers their event.
    std::string who() const {
        const std::string instance = "panel instance " + std::to_string(id);
        return actor.empty() ? instance : actor + " on " + instance;
    }
};

}  // namespace panelhost
