// Every kind of change comes out on the event stream as the browser reads
// it: its event type, and its fields under their names in the order the
// JSON object keeps them (by name).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChangeJson.h"

namespace panelhost {
namespace {

struct StreamCase {
    ChangeEvent event;
    std::string type;
    std::string data;
};

TEST(ChangeJsonTest, EveryKindOfChangeHasTheBrowsersTypeAndFields) {
    LogEntry entry;
    entry.sequence = 41;
    entry.time = "2026-03-01T10:00:00.250Z";
    entry.instance = 2;
    entry.kind = "warning";
    entry.text = "a \"quoted\" line";
    const std::vector<StreamCase> cases{
        {InstanceChanged{3, InstanceChanged::State::Created}, "instance",
         R"({"instance":3,"state":"created"})"},
        {InstanceChanged{3, InstanceChanged::State::Destroyed}, "instance",
         R"({"instance":3,"state":"destroyed"})"},
        {ControlChanged{1, "Main", "Keys", "text", "CAM 1"}, "control",
         R"({"control":"Keys","instance":1,"panel":"Main","property":"text","value":"CAM 1"})"},
        {PanelChanged{1, "Main", "/srv/Main.tovi_ui", PanelChanged::State::Loaded}, "panel",
         R"({"file":"/srv/Main.tovi_ui","instance":1,"panel":"Main","state":"loaded"})"},
        {PanelChanged{1, "Main", "M.tovi_ui", PanelChanged::State::Shown}, "panel",
         R"({"file":"M.tovi_ui","instance":1,"panel":"Main","state":"shown"})"},
        {PanelChanged{1, "Main", "M.tovi_ui", PanelChanged::State::Removed}, "panel",
         R"({"file":"M.tovi_ui","instance":1,"panel":"Main","state":"removed"})"},
        {SlotChanged{57, 213, "7", "operator"}, "slot",
         R"({"device":57,"index":213,"text":"7","who":"operator"})"},
        {NameChanged{12, 5, 37, "CAM 2", "CAM 1", "admin"}, "database",
         R"({"database":5,"device":12,"index":37,"old":"CAM 1","text":"CAM 2","who":"admin"})"},
        // Bytes that are not UTF-8 become U+FFFD, never a failed change.
        {NameChanged{12, 5, 37, "Cam\xc3", "Caf\xe9", "script"}, "database",
         "{\"database\":5,\"device\":12,\"index\":37,\"old\":\"Caf\xef\xbf\xbd\",\"text\":"
         "\"Cam\xef\xbf\xbd\",\"who\":\"script\"}"},
        {CrosspointChanged{3, 0}, "crosspoint", R"({"destination":3,"source":0})"},
        {RouterLinkChanged{true, "matrix 0.1.0"}, "router",
         R"({"detail":"matrix 0.1.0","state":"connected"})"},
        {RouterLinkChanged{false, "closed"}, "router",
         R"({"detail":"closed","state":"disconnected"})"},
        {entry, "log",
         R"({"instance":2,"kind":"warning","sequence":41,"text":"a \"quoted\" line",)"
         R"("time":"2026-03-01T10:00:00.250Z"})"},
        {DisplayReceiverChanged{"udp 127.0.0.1:8900", "error", "refused", 18446744073709551615u, 2},
         "tsl",
         R"({"receiver":{"detail":"refused","packetsDropped":2,)"
         R"("packetsSent":18446744073709551615,"state":"error","target":"udp 127.0.0.1:8900"}})"},
        {DisplayBrightnessSent{}, "tsl", R"({"sent":"brightness"})"},
        {DisplayNameSent{16}, "tsl", R"({"sent":"name","source":16})"},
        {DisplayRoutedSent{4}, "tsl", R"({"destination":4,"sent":"routed"})"},
        {DisplayWallSent{2}, "tsl", R"({"nameset":2,"sent":"wall"})"},
        {DisplayDriverChanged{1, true, "studio-b"}, "tsl",
         R"({"driver":"studio-b","driving":true,"target":1})"},
        {DisplayDriverChanged{2, false, std::nullopt}, "tsl",
         R"({"driver":null,"driving":false,"target":2})"},
    };
    long long id = 0;
    for (const StreamCase& streamCase : cases) {
        ++id;
        EXPECT_EQ(changeStreamText(Change{id, streamCase.event}),
                  "id: " + std::to_string(id) + "\nevent: " + streamCase.type +
                      "\ndata: " + streamCase.data + "\n\n");
    }
}

}  // namespace
}  // namespace panelhost
