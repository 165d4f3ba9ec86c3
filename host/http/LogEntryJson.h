#pragma once

#include <nlohmann/json.hpp>

#include "EventLog.h"

namespace panelhost {

// The one JSON form of a log entry, as /api/log lists it and the event
// stream's "log" changes carry it, so the two cannot drift apart.
nlohmann::json logEntryJson(const LogEntry& entry);

}  // namespace panelhost
