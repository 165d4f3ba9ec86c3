#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HostEngine.h"
#include "UmdWall.h"

namespace panelhost {

// What the API's read routes answer, as the engine showed it between two
// pieces of work: the devices, every name set and slot table, the panel
// instances, the wall and the router link. Made on the engine thread
// (EngineThread's publisher) and never changed after, so that any number of
// HTTP threads read one at once without a lock while the engine goes on.
// The answers are JSON texts made once per snapshot; a part that did not
// change since the previous snapshot is shared with it, not made again: a
// part whose kinds of change (the change feed's counts) did not move is not
// even looked at, and of the names and slots only the databases and devices
// whose revisions in the store moved are read again.
class ApiSnapshot {
  public:
    // The names of one database of one device, index 1 first.
    struct NameSet {
        std::vector<std::string> names;
        // Each name as a JSON string, kept so that a set in which one name
        // changed makes only that one again.
        std::vector<std::string> quoted;
        std::string body;  // the answer of GET /api/devices/{n}/databases/{n}
        // The store's revision of the database these names were read at.
        long long revision = 0;
    };
    // The slots of one device.
    struct SlotTable {
        int slots = 0;
        // Every slot that holds a text; the others are empty.
        std::map<int, std::string> written;
        std::string body;  // the answer of GET /api/devices/{n}/slots
        // The store's revision of the device's slots these were read at.
        long long revision = 0;

        // Slot `index`'s text; nothing when the device has no such slot.
        std::optional<std::string> text(int index) const;
    };
    struct Panel {
        nlohmann::json state;
        std::string body;  // the answer of GET /api/panels/{n}
    };

    // The engine's state now, sharing every unchanged part with `previous`
    // (may be null). On the engine thread.
    static std::shared_ptr<const ApiSnapshot> take(const HostEngine& engine,
                                                   const ApiSnapshot* previous);

    // GET /api/devices, and one device's answer (null for none).
    const std::string& devicesBody() const { return devices_->list; }
    const std::string* deviceBody(int device) const;
    const NameSet* nameSet(int device, int database) const;
    const SlotTable* slotTable(int device) const;
    // Whether the catalog has `device`.
    bool hasDevice(int device) const { return deviceBody(device) != nullptr; }
    // GET /api/panels, and one instance's answer (null for none).
    const std::string& panelsBody() const { return *panelsBody_; }
    const Panel* panel(int instance) const;
    // GET /api/wall.
    const std::string& wallBody() const { return wall_->body; }
    // The router link as GET /api/tsl shows it.
    const nlohmann::json& router() const { return router_; }
    // The name sets the panels' lists show as captions (a control's
    // captionDevice and captionDatabase), each once, in the order found.
    const std::vector<std::pair<int, int>>& captionSets() const { return *captionSets_; }

    // Whether the snapshot shows what `event` changes (the rest, the log
    // and the display output, it does not hold).
    static bool shows(const ChangeEvent& event);

  private:
    // The catalog's answers; the catalog does not change while the host
    // runs, so every snapshot shares the first one's.
    struct Devices {
        std::string list;
        std::map<int, std::string> each;
    };
    // The store's revisions of what a wall shows: the tally device's slots
    // (which set, how bright) and the shown set's names.
    using WallRevisions = std::pair<long long, long long>;
    struct Wall {
        UmdWall wall;
        std::string body;
    };

    static WallRevisions wallRevisions(const HostEngine& engine, const UmdWall& wall);

    // The parts of names, slots and the wall, and those of the panels, each
    // made anew when the changes of their kinds moved since `previous`.
    void takeNames(const HostEngine& engine, const ApiSnapshot* previous);
    void takePanels(const HostEngine& engine, const ApiSnapshot* previous);

    // The engine's counts of changes when the snapshot was taken.
    ChangeFeed::KindCounts counts_{};
    std::shared_ptr<const Devices> devices_;
    std::map<std::pair<int, int>, std::shared_ptr<const NameSet>> nameSets_;
    std::map<int, std::shared_ptr<const SlotTable>> slotTables_;
    std::map<int, std::shared_ptr<const Panel>> panels_;
    std::shared_ptr<const std::string> panelsBody_;
    std::shared_ptr<const std::vector<std::pair<int, int>>> captionSets_;
    std::shared_ptr<const Wall> wall_;
    // What wall_ was read at.
    WallRevisions wallRevisions_;
    nlohmann::json router_;
};

}  // namespace panelhost
