#pragma once

#include <optional>
#include <string>

#include "tovi_client_callback.h"

// Delivers notifications to a script as a host does: builds the records,
// keeps them alive for the one call, and hands host-message answers back.
// The script must outlive the driver's calls.
class ScriptDriver {
public:
    explicit ScriptDriver(tovi_client_callback* script) : script_(script) {}

    // `eventText` is parsed as the host parses a control's event text.
    void controlEvent(const std::string& panel, const std::string& control,
                      const std::string& eventText);
    void revertive(int device, int slot, const std::string& text);
    void databaseChange(int device, int database, int index, const std::string& text);
    void timerTick(int timerId);
    // The script's answer (nullopt for null), already handed back with type 5.
    std::optional<std::string> hostMessage(const char* text);

private:
    tovi_client_callback* script_;
};
