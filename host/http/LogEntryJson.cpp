#include "LogEntryJson.h"

namespace panelhost {

nlohmann::json logEntryJson(const LogEntry& entry) {
    return {{"sequence", entry.sequence},
            {"time", entry.time},
            {"instance", entry.instance},
            {"kind", entry.kind},
            {"text", entry.text}};
}

}  // namespace panelhost
