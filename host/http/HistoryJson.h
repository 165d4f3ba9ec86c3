#pragma once

#include <nlohmann/json.hpp>

#include "NameStore.h"

namespace panelhost {

// The JSON form of a history entry's own fields (id, time, who, the name's
// address, its old and new text), as /api/history and the batch routes
// show an entry, so the two cannot drift apart. A pure function; any
// thread.
nlohmann::json historyEntryJson(const HistoryEntry& entry);

}  // namespace panelhost
