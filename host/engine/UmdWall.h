#pragma once

#include <array>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "DeviceBus.h"

namespace panelhost {

// What the studio's under-monitor displays show: for each of the router's
// 128 sources, its name in the name set that tally slot 212 selects, at the
// brightness of slot 211. Set 0 is the router's own names (its database 0),
// sets 1 to 8 the names infodriver's databases 1 to 8, set 9 the router's
// database 2.
struct UmdWall {
    static constexpr int kSourceCount = 128;
    static constexpr int kNamesetSlot = 212;
    static constexpr int kBrightnessSlot = 211;
    static constexpr const char* kRouter = "StC SDI Router";
    static constexpr const char* kTally = "CTA Tally Infodriver";
    static constexpr const char* kNamesDriver = "StC_UMD_Names_DriverID";

    // Where the names of one set live.
    struct Source {
        const char* device;
        int database;
    };

    // Device numbers of the tally infodriver and of the device that holds
    // the shown set; 0 when the catalog has no such device.
    int tallyDevice = 0;
    int sourceDevice = 0;
    int nameset = 0;
    // 1 to 3; 0 while the slot holds no valid level.
    int brightness = 0;
    // names[0] is source 1's name.
    std::array<std::string, kSourceCount> names;
    // routed[0] is the source routed to router destination 1; 0 for none.
    std::array<int, kSourceCount> routed{};

    // The set a slot-212 text selects: a whole number 0 to 9, else nothing.
    static std::optional<int> namesetOf(const std::string& slotText);
    // The level a slot-211 text gives: 1 to 3, else 0.
    static int brightnessOf(const std::string& slotText);
    static Source sourceOf(int nameset);

    // Reads the whole wall from the devices (on the engine's thread), with
    // the router's crosspoints (destination -> source). A slot-212 text
    // that is no set leaves set 0.
    static UmdWall read(const DeviceBus& devices, const std::map<int, int>& crosspoints = {});
    // The name of the source routed to `destination`, in the shown set; ""
    // when nothing (or nothing known) is routed there.
    std::string routedName(int destination) const;
    // Whether a change of `database` on `deviceNumber` is a name the wall
    // shows now.
    bool shows(int deviceNumber, int database) const;
    // {"nameset", "brightness", "displays": [{"source", "name"}, ...]}.
    nlohmann::json toJson() const;
};

}  // namespace panelhost
