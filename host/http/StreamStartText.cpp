#include "StreamStartText.h"

namespace panelhost {

std::string streamStartText(const ApiSnapshot& snapshot, const std::string& sessionJson) {
    // The parts are JSON texts the snapshot made once; joined, not parsed.
    std::string text = "event: start\ndata: {\"session\":" + sessionJson +
                       ",\"devices\":" + snapshot.devicesBody() +
                       ",\"panels\":" + snapshot.panelsBody() + ",\"names\":[";
    const char* separator = "";
    for (const auto& [device, database] : snapshot.captionSets()) {
        const ApiSnapshot::NameSet* set = snapshot.nameSet(device, database);
        if (set != nullptr) {
            text += separator + set->body;
            separator = ",";
        }
    }
    return text + "]}\n\n";
}

}  // namespace panelhost
