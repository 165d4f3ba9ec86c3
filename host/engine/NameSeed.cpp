#include "NameSeed.h"

#include <string>

namespace panelhost {
namespace {

// A run of sources of one kind: full name, short name, how many. A run of
// one source carries no number.
struct SourceRun {
    const char* name;
    const char* shortName;
    int count;
};

constexpr SourceRun kStudio[] = {
    {"Camera", "CAM", 12},       {"VT", "VT", 8},
    {"Graphics", "GFX", 6},      {"Caption", "CAP", 2},
    {"Remote", "REM", 8},        {"Line In", "LINE", 8},
    {"Server", "SVR", 8},        {"Replay", "RPL", 6},
    {"Sat Rx", "SAT", 4},        {"Video Call", "CALL", 4},
    {"Studio B Cam", "BCAM", 6}, {"Aux", "AUX", 8},
    {"Mixer PGM", "PGM", 1},     {"Mixer PVW", "PVW", 1},
    {"Clean Feed", "CLN", 2},    {"Multiviewer", "MV", 2},
    {"Clock", "CLK", 1},         {"Black", "BLK", 1},
    {"Bars", "BARS", 1},         {"Test Signal", "TEST", 1},
};
constexpr const char* kSpare = "Spare";
constexpr const char* kSpareShort = "SPR";

// Titles of the name sets, and the word their cameras are called by.
struct NameSet {
    const char* title;
    const char* camera;
};
constexpr NameSet kSets[] = {
    {"Studio A", "A Cam"},    {"Studio B", "B Cam"},     {"News", "News Cam"},
    {"Sport", "Sport Cam"},   {"Election", "Elect Cam"}, {"Drama", "Drama Cam"},
    {"Rehearsal", "Reh Cam"}, {"Spare Set", "Camera"},
};
constexpr int kSetCount = static_cast<int>(sizeof kSets / sizeof kSets[0]);

std::string numbered(const char* name, int number, int count) {
    return count == 1 ? std::string(name) : std::string(name) + " " + std::to_string(number);
}

// The name of `source` (from 1): from the studio runs, then spares. When
// `camera` is given it replaces the name of the first run.
std::string sourceName(int source, bool shortNames, const char* camera) {
    int first = 1;
    for (const SourceRun& run : kStudio) {
        if (source < first + run.count) {
            const char* name = shortNames ? run.shortName : run.name;
            if (camera != nullptr && &run == &kStudio[0]) {
                name = camera;
            }
            return numbered(name, source - first + 1, run.count);
        }
        first += run.count;
    }
    return numbered(shortNames ? kSpareShort : kSpare, source, 0);
}

void seedDatabase(const DeviceSpec& device, int database, SeedData& seed) {
    for (int index = 1; index <= device.entries; ++index) {
        std::string text;
        if (device.titleDatabase == 0) {
            // A router: its first database has the full names, others short ones.
            text = sourceName(index, database != device.databases.front(), nullptr);
        } else if (database == device.titleDatabase) {
            if (index > kSetCount) {
                continue;
            }
            text = kSets[index - 1].title;
        } else {
            const bool known = database >= 1 && database <= kSetCount;
            text = sourceName(index, false, known ? kSets[database - 1].camera : nullptr);
        }
        seed.names.push_back(SeedData::Name{device.name, database, index, text});
    }
}

}  // namespace

SeedData NameSeed::forCatalog(const DeviceCatalog& catalog) {
    SeedData seed;
    for (const DeviceSpec& device : catalog.devices()) {
        for (const int database : device.databases) {
            seedDatabase(device, database, seed);
        }
        for (const auto& [slot, text] : device.initialSlots) {
            seed.slots.push_back(SeedData::Slot{device.name, slot, text});
        }
    }
    return seed;
}

}  // namespace panelhost
