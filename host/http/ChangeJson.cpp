#include "ChangeJson.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "JsonText.h"
#include "LogEntryJson.h"

namespace panelhost {
namespace {

// Every event's stream type and JSON object, one overload a kind, so that a
// kind added to ChangeEvent without its form here does not compile.
using Encoded = std::pair<const char*, nlohmann::json>;

const char* stateText(InstanceChanged::State state) {
    return state == InstanceChanged::State::Created ? "created" : "destroyed";
}

const char* stateText(PanelChanged::State state) {
    switch (state) {
        case PanelChanged::State::Loaded:
            return "loaded";
        case PanelChanged::State::Shown:
            return "shown";
        case PanelChanged::State::Removed:
            return "removed";
    }
    return "removed";
}

Encoded encode(const InstanceChanged& event) {
    return {"instance", {{"instance", event.instance}, {"state", stateText(event.state)}}};
}

Encoded encode(const ControlChanged& event) {
    return {"control",
            {{"instance", event.instance},
             {"panel", event.panel},
             {"control", event.control},
             {"property", event.property},
             {"value", event.value}}};
}

Encoded encode(const PanelChanged& event) {
    return {"panel",
            {{"instance", event.instance},
             {"panel", event.panel},
             {"file", event.file},
             {"state", stateText(event.state)}}};
}

Encoded encode(const SlotChanged& event) {
    return {"slot",
            {{"device", event.device},
             {"index", event.index},
             {"text", event.text},
             {"who", event.who}}};
}

Encoded encode(const NameChanged& event) {
    return {"database",
            {{"device", event.device},
             {"database", event.database},
             {"index", event.index},
             {"text", event.text},
             {"old", event.old},
             {"who", event.who}}};
}

Encoded encode(const CrosspointChanged& event) {
    return {"crosspoint", {{"destination", event.destination}, {"source", event.source}}};
}

Encoded encode(const RouterLinkChanged& event) {
    return {"router",
            {{"state", event.connected ? "connected" : "disconnected"}, {"detail", event.detail}}};
}

Encoded encode(const LogEntry& entry) {
    return {"log", logEntryJson(entry)};
}

Encoded encode(const DisplayReceiverChanged& event) {
    return {"tsl",
            {{"receiver",
              {{"target", event.target},
               {"state", event.state},
               {"detail", event.detail},
               {"packetsSent", event.packetsSent},
               {"packetsDropped", event.packetsDropped}}}}};
}

Encoded encode(const DisplayBrightnessSent&) {
    return {"tsl", {{"sent", "brightness"}}};
}

Encoded encode(const DisplayNameSent& event) {
    return {"tsl", {{"sent", "name"}, {"source", event.source}}};
}

Encoded encode(const DisplayRoutedSent& event) {
    return {"tsl", {{"sent", "routed"}, {"destination", event.destination}}};
}

Encoded encode(const DisplayWallSent& event) {
    return {"tsl", {{"sent", "wall"}, {"nameset", event.nameset}}};
}

Encoded encode(const DisplayDriverChanged& event) {
    return {"tsl",
            {{"driving", event.driving},
             {"target", event.target},
             {"driver", event.driver ? nlohmann::json(*event.driver) : nlohmann::json(nullptr)}}};
}

Encoded encode(const DisplayTallyChanged& event) {
    nlohmann::json sources = nlohmann::json::array();
    for (const DisplayTallyChanged::Lamps& lamps : event.sources) {
        sources.push_back({{"source", lamps.source},
                           {"right", lamps.right},
                           {"text", lamps.text},
                           {"left", lamps.left},
                           {"tallies31", lamps.tallies31},
                           {"inputs", lamps.inputs}});
    }
    return {"tsl", {{"tallies", sources}}};
}

Encoded encode(const TallyInputChanged& event) {
    return {"tsl",
            {{"tallyInput",
              {{"input", event.input},
               {"stale", event.stale},
               {"packets", event.packets},
               {"dropped", event.dropped}}}}};
}

}  // namespace

std::string changeStreamText(const Change& change) {
    const Encoded encoded =
        std::visit([](const auto& event) { return encode(event); }, change.event);
    return "id: " + std::to_string(change.id) + "\nevent: " + encoded.first +
           "\ndata: " + jsonText(encoded.second) + "\n\n";
}

}  // namespace panelhost
