#include "UmdWall.h"

#include <nlohmann/json.hpp>

namespace panelhost {
namespace {

// The name sets: 0 to 9, the first and last from the router.
constexpr int kLastNameset = 9;
constexpr int kLowestBrightness = 1;
constexpr int kHighestBrightness = 3;

std::optional<int> wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<int> UmdWall::namesetOf(const std::string& slotText) {
    const std::optional<int> set = wholeNumber(slotText);
    return set && *set <= kLastNameset ? set : std::nullopt;
}

int UmdWall::brightnessOf(const std::string& slotText) {
    const std::optional<int> level = wholeNumber(slotText);
    return level && *level >= kLowestBrightness && *level <= kHighestBrightness ? *level : 0;
}

UmdWall::Source UmdWall::sourceOf(int nameset) {
    if (nameset == 0) {
        return {kRouter, 0};
    }
    if (nameset == kLastNameset) {
        return {kRouter, 2};
    }
    return {kNamesDriver, nameset};
}

UmdWall UmdWall::read(const DeviceBus& devices, const std::map<int, int>& crosspoints) {
    UmdWall wall;
    wall.tallyDevice = devices.lookup(kTally).value_or(0);
    const std::string set = devices.readSlot(wall.tallyDevice, kNamesetSlot).value_or("");
    wall.nameset = namesetOf(set).value_or(0);
    wall.brightness =
        brightnessOf(devices.readSlot(wall.tallyDevice, kBrightnessSlot).value_or(""));
    const Source source = sourceOf(wall.nameset);
    wall.sourceDevice = devices.lookup(source.device).value_or(0);
    for (int index = 1; index <= kSourceCount; ++index) {
        wall.names[static_cast<std::size_t>(index - 1)] =
            devices.readName(wall.sourceDevice, source.database, index).value_or("");
    }
    for (const auto& [destination, routedSource] : crosspoints) {
        if (destination >= 1 && destination <= kSourceCount) {
            wall.routed[static_cast<std::size_t>(destination - 1)] = routedSource;
        }
    }
    return wall;
}

std::string UmdWall::routedName(int destination) const {
    if (destination < 1 || destination > kSourceCount) {
        return "";
    }
    const int source = routed[static_cast<std::size_t>(destination - 1)];
    return source >= 1 && source <= kSourceCount ? names[static_cast<std::size_t>(source - 1)] : "";
}

bool UmdWall::shows(int deviceNumber, int database) const {
    return sourceDevice != 0 && deviceNumber == sourceDevice &&
           database == sourceOf(nameset).database;
}

nlohmann::json UmdWall::toJson() const {
    nlohmann::json displays = nlohmann::json::array();
    for (int source = 1; source <= kSourceCount; ++source) {
        displays.push_back(
            {{"source", source}, {"name", names[static_cast<std::size_t>(source - 1)]}});
    }
    return {{"nameset", nameset}, {"brightness", brightness}, {"displays", displays}};
}

}  // namespace panelhost
