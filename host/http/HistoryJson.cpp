#include "HistoryJson.h"

namespace panelhost {

nlohmann::json historyEntryJson(const HistoryEntry& entry) {
    return {{"id", entry.id},
            {"time", entry.time},
            {"who", entry.who},
            {"device", entry.deviceNumber},
            {"deviceName", entry.device},
            {"database", entry.database},
            {"index", entry.index},
            {"old", entry.oldText},
            {"new", entry.newText}};
}

}  // namespace panelhost
