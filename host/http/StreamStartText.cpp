#include "StreamStartText.h"

#include "ContentDigest.h"

namespace panelhost {
namespace {

// Bytes of the state's SHA-256 in its DIGEST: enough that two states never
// share one.
constexpr std::size_t kDigestBytes = 16;

// The state's members but the session, and their DIGEST. The parts are
// JSON texts the snapshot made once; joined, not parsed.
struct State {
    std::string members;
    std::string digest;
};

State stateOf(const ApiSnapshot& snapshot) {
    State state;
    state.members = "\"devices\":" + snapshot.devicesBody() +
                    ",\"panels\":" + snapshot.panelsBody() + ",\"names\":[";
    const char* separator = "";
    for (const auto& [device, database] : snapshot.captionSets()) {
        const ApiSnapshot::NameSet* set = snapshot.nameSet(device, database);
        if (set != nullptr) {
            state.members += separator + set->body;
            separator = ",";
        }
    }
    state.members += "]";
    state.digest = ContentDigest::hex(state.members, kDigestBytes);
    return state;
}

std::string joined(const State& state, const std::string& sessionJson) {
    return "{\"state\":\"" + state.digest + "\",\"session\":" + sessionJson + "," + state.members +
           "}";
}

}  // namespace

std::string startStateJson(const ApiSnapshot& snapshot, const std::string& sessionJson) {
    return joined(stateOf(snapshot), sessionJson);
}

std::string streamStartText(const ApiSnapshot& snapshot, const std::string& sessionJson,
                            const std::string& since) {
    const State state = stateOf(snapshot);
    const std::string data = since == state.digest ? "{\"session\":" + sessionJson +
                                                         ",\"same\":\"" + state.digest + "\"}"
                                                   : joined(state, sessionJson);
    return "event: start\ndata: " + data + "\n\n";
}

}  // namespace panelhost
