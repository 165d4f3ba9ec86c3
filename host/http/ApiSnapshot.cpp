#include "ApiSnapshot.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <variant>

#include "JsonReply.h"
#include "JsonText.h"

namespace panelhost {
namespace {

using nlohmann::json;

bool sameWall(const UmdWall& left, const UmdWall& right) {
    return left.tallyDevice == right.tallyDevice && left.sourceDevice == right.sourceDevice &&
           left.nameset == right.nameset && left.brightness == right.brightness &&
           left.names == right.names && left.routed == right.routed;
}

// The index in ChangeEvent of the kind of change `Kind`.
template <typename Kind>
std::size_t kindOf() {
    static const std::size_t index = ChangeEvent(Kind{}).index();
    return index;
}

// The answer of GET /api/devices/{n}/databases/{n} from its names as JSON
// strings, written out as jsonText() writes the same object (keys in
// order), without making the object: a write of one name remakes its set's
// answer, which must cost the engine thread little next to the commit.
std::string nameSetBody(int device, int database, const std::vector<std::string>& quoted) {
    constexpr std::size_t kEntryFraming = 24;
    std::size_t length = 64;
    for (const std::string& text : quoted) {
        length += text.size() + kEntryFraming;
    }
    std::string body;
    body.reserve(length);
    body += R"({"database":)";
    body += std::to_string(database);
    body += R"(,"device":)";
    body += std::to_string(device);
    body += R"(,"entries":[)";
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        body += i == 0 ? R"({"index":)" : R"(,{"index":)";
        body += std::to_string(i + 1);
        body += R"(,"text":)";
        body += quoted[i];
        body += '}';
    }
    body += "]}";
    return body;
}

// The name sets the controls of `instance` (as GET /api/panels/{n} shows
// one) take their captions from, added to `sets` unless there already.
void addCaptionSets(const json& instance, const DeviceCatalog& catalog,
                    std::vector<std::pair<int, int>>& sets) {
    for (const json& panel : instance["panels"]) {
        for (const json& control : panel["controls"]) {
            const json& properties = control["properties"];
            const auto device = properties.find("captionDevice");
            const auto database = properties.find("captionDatabase");
            if (device == properties.end() || database == properties.end() ||
                !device->is_string() || !database->is_string()) {
                continue;
            }
            const DeviceSpec* declared = catalog.byName(device->get<std::string>());
            const std::optional<int> number =
                reply::toNumber<int>(database->get_ref<const std::string&>());
            if (declared == nullptr || !number) {
                continue;
            }
            const std::pair<int, int> set{declared->number, *number};
            if (std::find(sets.begin(), sets.end(), set) == sets.end()) {
                sets.push_back(set);
            }
        }
    }
}

template <typename Part>
const Part* found(const std::map<int, std::shared_ptr<const Part>>& parts, int key) {
    const auto part = parts.find(key);
    return part == parts.end() ? nullptr : part->second.get();
}

}  // namespace

std::shared_ptr<const ApiSnapshot> ApiSnapshot::take(const HostEngine& engine,
                                                     const ApiSnapshot* previous) {
    auto made = std::make_shared<ApiSnapshot>();
    const DeviceBus& bus = engine.devices();
    const DeviceCatalog& catalog = bus.catalog();
    if (previous != nullptr) {
        made->devices_ = previous->devices_;
    } else {
        auto devices = std::make_shared<Devices>();
        devices->list = jsonText(catalog.toJson());
        for (const DeviceSpec& declared : catalog.devices()) {
            devices->each[declared.number] = jsonText(declared.toJson());
        }
        made->devices_ = std::move(devices);
    }

    const ChangeFeed::KindCounts counts = engine.changeCounts();
    const auto moved = [&](std::initializer_list<std::size_t> kinds) {
        return previous == nullptr ||
               std::any_of(kinds.begin(), kinds.end(), [&](std::size_t kind) {
                   return previous->counts_[kind] != counts[kind];
               });
    };
    made->counts_ = counts;
    if (moved({kindOf<NameChanged>(), kindOf<SlotChanged>(), kindOf<CrosspointChanged>()})) {
        made->takeNames(engine, previous);
    } else {
        made->nameSets_ = previous->nameSets_;
        made->slotTables_ = previous->slotTables_;
        made->wall_ = previous->wall_;
        made->wallRevisions_ = previous->wallRevisions_;
    }
    if (moved({kindOf<InstanceChanged>(), kindOf<ControlChanged>(), kindOf<PanelChanged>()})) {
        made->takePanels(engine, previous);
    } else {
        made->panels_ = previous->panels_;
        made->panelsBody_ = previous->panelsBody_;
        made->captionSets_ = previous->captionSets_;
    }
    made->router_ =
        moved({kindOf<RouterLinkChanged>()}) ? engine.router().toJson() : previous->router_;
    return made;
}

void ApiSnapshot::takeNames(const HostEngine& engine, const ApiSnapshot* previous) {
    const DeviceBus& bus = engine.devices();
    const DeviceCatalog& catalog = bus.catalog();
    const NameStore& store = engine.store();
    if (previous != nullptr) {
        nameSets_ = previous->nameSets_;
        slotTables_ = previous->slotTables_;
    }
    for (const DeviceSpec& declared : catalog.devices()) {
        for (const int database : declared.databases) {
            const long long revision = store.namesRevision(declared.name, database);
            const NameSet* before = nameSet(declared.number, database);
            if (before != nullptr && before->revision == revision) {
                continue;
            }
            std::vector<std::string> names(static_cast<std::size_t>(declared.entries));
            for (auto& [index, text] : store.names(declared.name, database)) {
                if (index >= 1 && index <= declared.entries) {
                    names[static_cast<std::size_t>(index - 1)] = std::move(text);
                }
            }
            std::vector<std::string> quoted(names.size());
            for (std::size_t i = 0; i < names.size(); ++i) {
                const bool same =
                    before != nullptr && i < before->names.size() && before->names[i] == names[i];
                quoted[i] = same ? before->quoted[i] : jsonText(names[i]);
            }
            std::string body = nameSetBody(declared.number, database, quoted);
            nameSets_[{declared.number, database}] = std::make_shared<const NameSet>(
                NameSet{std::move(names), std::move(quoted), std::move(body), revision});
        }
        if (declared.slots == 0) {
            continue;
        }
        const long long revision = store.slotsRevision(declared.name);
        const SlotTable* before = slotTable(declared.number);
        if (before != nullptr && before->revision == revision) {
            continue;
        }
        std::map<int, std::string> written = store.writtenSlots(declared.name);
        for (auto slot = written.begin(); slot != written.end();) {
            slot = declared.hasSlot(slot->first) ? std::next(slot) : written.erase(slot);
        }
        json list = json::array();
        for (const auto& [index, text] : written) {
            list.push_back({{"index", index}, {"text", text}});
        }
        json body = {{"device", declared.number}};
        body["slots"] = std::move(list);
        slotTables_[declared.number] = std::make_shared<const SlotTable>(
            SlotTable{declared.slots, std::move(written), jsonText(body), revision});
    }

    if (previous != nullptr &&
        wallRevisions(engine, previous->wall_->wall) == previous->wallRevisions_) {
        wall_ = previous->wall_;
        wallRevisions_ = previous->wallRevisions_;
        return;
    }
    UmdWall wall = UmdWall::read(bus);
    wallRevisions_ = wallRevisions(engine, wall);
    if (previous != nullptr && sameWall(previous->wall_->wall, wall)) {
        wall_ = previous->wall_;
    } else {
        std::string body = jsonText(wall.toJson());
        wall_ = std::make_shared<const Wall>(Wall{std::move(wall), std::move(body)});
    }
}

ApiSnapshot::WallRevisions ApiSnapshot::wallRevisions(const HostEngine& engine,
                                                      const UmdWall& wall) {
    const DeviceCatalog& catalog = engine.devices().catalog();
    const NameStore& store = engine.store();
    const DeviceSpec* tally = catalog.byNumber(wall.tallyDevice);
    const DeviceSpec* source = catalog.byNumber(wall.sourceDevice);
    return {tally == nullptr ? 0 : store.slotsRevision(tally->name),
            source == nullptr
                ? 0
                : store.namesRevision(source->name, UmdWall::sourceOf(wall.nameset).database)};
}

void ApiSnapshot::takePanels(const HostEngine& engine, const ApiSnapshot* previous) {
    // A new, changed or removed instance changes the list.
    bool panelsChanged = previous == nullptr;
    json instances = json::array();
    auto captions = std::make_shared<std::vector<std::pair<int, int>>>();
    for (const int id : engine.instanceIds()) {
        json state = *engine.instanceJson(id);
        addCaptionSets(state, engine.devices().catalog(), *captions);
        const Panel* before = previous == nullptr ? nullptr : found(previous->panels_, id);
        if (before != nullptr && before->state == state) {
            panels_[id] = previous->panels_.at(id);
        } else {
            const std::string body = jsonText(state);
            panels_[id] = std::make_shared<const Panel>(Panel{state, body});
            panelsChanged = true;
        }
        instances.push_back(std::move(state));
    }
    captionSets_ = std::move(captions);
    if (!panelsChanged && previous->panels_.size() == panels_.size()) {
        panelsBody_ = previous->panelsBody_;
    } else {
        panelsBody_ = std::make_shared<const std::string>(
            jsonText(json{{"instances", std::move(instances)}}));
    }
}

const std::string* ApiSnapshot::deviceBody(int device) const {
    const auto body = devices_->each.find(device);
    return body == devices_->each.end() ? nullptr : &body->second;
}

const ApiSnapshot::NameSet* ApiSnapshot::nameSet(int device, int database) const {
    const auto set = nameSets_.find({device, database});
    return set == nameSets_.end() ? nullptr : set->second.get();
}

const ApiSnapshot::SlotTable* ApiSnapshot::slotTable(int device) const {
    return found(slotTables_, device);
}

std::optional<std::string> ApiSnapshot::SlotTable::text(int index) const {
    if (index < 1 || index > slots) {
        return std::nullopt;
    }
    const auto slot = written.find(index);
    return slot == written.end() ? std::string() : slot->second;
}

const ApiSnapshot::Panel* ApiSnapshot::panel(int instance) const {
    return found(panels_, instance);
}

bool ApiSnapshot::shows(const ChangeEvent& event) {
    return std::holds_alternative<InstanceChanged>(event) ||
           std::holds_alternative<ControlChanged>(event) ||
           std::holds_alternative<PanelChanged>(event) ||
           std::holds_alternative<SlotChanged>(event) ||
           std::holds_alternative<NameChanged>(event) ||
           std::holds_alternative<CrosspointChanged>(event) ||
           std::holds_alternative<RouterLinkChanged>(event);
}

}  // namespace panelhost
