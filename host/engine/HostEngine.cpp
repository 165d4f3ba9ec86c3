#include "HostEngine.h"

#include <cstdint>
#include <stdexcept>
#include <utility>

#include "ControlEvents.h"
#include "UmdWall.h"
#include "tovi_event_text.h"
#include "tovi_records.h"

namespace panelhost {
namespace {

std::string apostrophed(const std::string& text) {
    return "'" + text + "'";
}

const char* kindOf(const Notification& notification) {
    switch (notification.type) {
        case tovi_type::kRevertive:
            return "revertive";
        case tovi_type::kDatabaseChange:
            return "database change";
        default:
            return "timer";
    }
}

std::string describe(const Notification& notification) {
    const tovi_revertive_record& record = notification.record;
    switch (notification.type) {
        case tovi_type::kRevertive:
            return "revertive: device " + std::to_string(record.device) + " slot " +
                   std::to_string(record.index) + " " + apostrophed(record.text);
        case tovi_type::kDatabaseChange:
            return "database change: device " + std::to_string(record.device) + " database " +
                   std::to_string(record.database) + " entry " + std::to_string(record.index) +
                   " " + apostrophed(record.text);
        default:
            return "timer " + std::to_string(notification.tick.timer);
    }
}

}  // namespace

HostEngine::HostEngine(const DeviceCatalog& catalog, NameStore& store, EventLog& log,
                       ChangeFeed& feed, Clock clock)
    : store_(store),
      log_(log),
      feed_(feed),
      clock_(std::move(clock)),
      devices_(catalog, store, queue_, feed, log),
      router_(devices_, store, log, feed),
      interpreter_(devices_, timers_, answers_, log, feed, clock_) {}

HostEngine::~HostEngine() {
    destroyAll();
}

HostEngine::Instance* HostEngine::find(int instance) {
    const auto found = instances_.find(instance);
    return found == instances_.end() ? nullptr : found->second.get();
}

HostResult HostEngine::usable(int instance, Instance*& found) {
    found = find(instance);
    if (found == nullptr) {
        return HostResult::notFound("there is no panel instance " + std::to_string(instance));
    }
    if (found->script == nullptr || found->state.saidGoodbye) {
        return HostResult::conflict("panel instance " + std::to_string(instance) +
                                    " is shutting down");
    }
    return HostResult::success();
}

template <typename Call>
void HostEngine::callScript(Instance& instance, Call&& call) {
    const int id = instance.state.id;
    if (observer_ != nullptr) {
        observer_->enteringScript(id);
    }
    try {
        call();
    } catch (...) {
        log_.add(id, "error", "the script let an exception escape; it was caught by the host");
    }
    if (observer_ != nullptr) {
        observer_->leftScript(id);
    }
    for (const AnswerLedger::Outstanding& missing : answers_.reclaim(id)) {
        log_.add(id, "error",
                 "the answer to \"" + missing.command +
                     "\" was never handed back; the host freed it when the call returned");
    }
}

int HostEngine::createInstance(const ScriptFactory& factory, const std::string& path) {
    const int id = ++lastId_;
    auto created = std::make_unique<Instance>();
    created->state.id = id;
    created->callback = std::make_unique<HostCallback>(*this, id);
    Instance& instance = *created;
    instances_.emplace(id, std::move(created));
    log_.add(id, "info", "creating panel instance " + std::to_string(id) + " with path " + path);
    tovi_client_callback* script = nullptr;
    callScript(instance, [&] { script = factory(instance.callback.get(), path.c_str()); });
    if (script == nullptr) {
        devices_.forget(id);
        timers_.stopAll(id);
        instances_.erase(id);
        log_.add(id, "error", "the plugin made no script for panel instance " + std::to_string(id));
        throw std::runtime_error("the plugin made no script for panel instance " +
                                 std::to_string(id));
    }
    instance.script = script;
    feed_.publish(InstanceChanged{id, InstanceChanged::State::Created});
    deliverPending();
    return id;
}

HostResult HostEngine::destroyInstance(int id) {
    Instance* instance = find(id);
    if (instance == nullptr) {
        return HostResult::notFound("there is no panel instance " + std::to_string(id));
    }
    if (instance->script != nullptr) {
        tovi_client_callback* script = std::exchange(instance->script, nullptr);
        callScript(*instance, [script] { delete script; });
    }
    if (!instance->state.saidGoodbye) {
        log_.add(id, "warning", "the script was destroyed without sending \"AS\"");
    }
    devices_.forget(id);
    timers_.stopAll(id);
    for (const auto& [panelId, panel] : instance->state.panels) {
        if (panel.shown()) {
            interpreter_.publishPanel(instance->state, panel, PanelChanged::State::Removed);
        }
    }
    instances_.erase(id);
    log_.add(id, "info", "panel instance " + std::to_string(id) + " destroyed");
    feed_.publish(InstanceChanged{id, InstanceChanged::State::Destroyed});
    deliverPending();
    return HostResult::success();
}

void HostEngine::destroyAll() {
    while (!instances_.empty()) {
        destroyInstance(instances_.begin()->first);
    }
}

void* HostEngine::fromScript(int instance, void* data, int type) {
    Instance* found = find(instance);
    if (found == nullptr) {
        log_.add(instance, "error", "a call from a script whose instance is gone; ignored");
        return nullptr;
    }
    if (type == tovi_type::kCommand) {
        return interpreter_.execute(found->state, static_cast<const char*>(data));
    }
    if (type == tovi_type::kRelease) {
        release(instance, data);
        return nullptr;
    }
    log_.add(instance, "error",
             "the script sent type " + std::to_string(type) + " to the host; ignored");
    return nullptr;
}

void HostEngine::release(int instance, void* answer) {
    if (answer == nullptr) {
        return;
    }
    switch (answers_.release(answer)) {
        case AnswerLedger::Release::Released:
            log_.add(instance, "release", "the answer was handed back");
            return;
        case AnswerLedger::Release::AlreadyReleased:
            log_.add(instance, "error", "the script handed the same answer back twice; ignored");
            return;
        case AnswerLedger::Release::Unknown:
            log_.add(instance, "error",
                     "the script handed back a pointer that is not an outstanding answer; ignored");
            return;
    }
}

void HostEngine::deliverPending() {
    std::size_t delivered = 0;
    while (std::optional<Notification> next = queue_.pop()) {
        if (++delivered > kNotificationLimit) {
            log_.add(0, "error",
                     "more than " + std::to_string(kNotificationLimit) +
                         " notifications for one request; " + std::to_string(queue_.size() + 1) +
                         " dropped");
            queue_.clear();
            return;
        }
        deliver(*next);
    }
}

void HostEngine::deliver(const Notification& notification) {
    Instance* instance = find(notification.instance);
    if (instance == nullptr || instance->script == nullptr || instance->state.saidGoodbye) {
        return;
    }
    if (notification.type == tovi_type::kTimer && !timers_.current(notification.tick)) {
        return;
    }
    ++notificationCounts_[kindOf(notification)];
    log_.add(notification.instance, "notify", describe(notification));
    tovi_client_callback* script = instance->script;
    if (notification.type == tovi_type::kTimer) {
        void* timer = reinterpret_cast<void*>(static_cast<std::intptr_t>(notification.tick.timer));
        callScript(*instance, [&] { script->deliver(timer, tovi_type::kTimer); });
        return;
    }
    tovi_revertive_record record = notification.record;
    callScript(*instance, [&] { script->deliver(&record, notification.type); });
}

void HostEngine::clearActor(int id) {
    if (Instance* instance = find(id)) {
        instance->state.actor.clear();
    }
}

HostResult HostEngine::controlEvent(int id, const std::string& panelId, const std::string& control,
                                    const std::string& event, const std::string& actor) {
    Instance* instance = nullptr;
    HostResult result = usable(id, instance);
    if (!result.ok()) {
        return result;
    }
    const auto panel = instance->state.panels.find(panelId);
    if (panel == instance->state.panels.end()) {
        return HostResult::notFound("panel instance " + std::to_string(id) + " has no panel '" +
                                    panelId + "'");
    }
    if (!panel->second.shown()) {
        return HostResult::conflict("panel '" + panelId + "' is not shown");
    }
    const ControlSpec* controlSpec = panel->second.controlSpec(control);
    if (controlSpec == nullptr) {
        return HostResult::notFound("panel '" + panelId + "' has no control '" + control + "'");
    }
    LoadedPanel::Properties& properties = *panel->second.properties(control);
    if (properties["visible"] != "true" || properties["enabled"] != "true") {
        return HostResult::conflict("control '" + control + "' is " +
                                    (properties["visible"] != "true" ? "hidden" : "disabled"));
    }
    const ControlEvents::Outcome outcome = ControlEvents::apply(*controlSpec, properties, event);
    if (!outcome.error.empty()) {
        return HostResult::invalid(outcome.error);
    }
    for (const PropertyChange& change : outcome.changes) {
        feed_.publish(ControlChanged{id, panelId, control, change.property, change.value});
    }
    log_.add(id, "event", "panel '" + panelId + "' control '" + control + "': " + event);
    tovi_event_text parsed(event.c_str());
    tovi_control_record record{0, 0, panelId.c_str(), control.c_str(), &parsed};
    tovi_client_callback* script = instance->script;
    instance->state.actor = actor;
    callScript(*instance, [&] { script->deliver(&record, tovi_type::kControlEvent); });
    deliverPending();
    clearActor(id);
    return HostResult::success();
}

HostResult HostEngine::hostMessage(int id, const std::string& text,
                                   std::optional<std::string>& answer, const std::string& actor) {
    Instance* instance = nullptr;
    HostResult result = usable(id, instance);
    if (!result.ok()) {
        return result;
    }
    std::vector<char> message(text.begin(), text.end());
    message.push_back('\0');
    tovi_client_callback* script = instance->script;
    void* reply = nullptr;
    instance->state.actor = actor;
    callScript(*instance,
               [&] { reply = script->deliver(message.data(), tovi_type::kHostMessage); });
    answer.reset();
    if (reply != nullptr) {
        answer = std::string(static_cast<const char*>(reply));
        callScript(*instance, [&] { script->deliver(reply, tovi_type::kRelease); });
    }
    log_.add(
        id, "message",
        apostrophed(text) + " answered " + (answer ? apostrophed(*answer) : std::string("null")));
    deliverPending();
    clearActor(id);
    return HostResult::success();
}

HostResult HostEngine::writeName(const std::string& who, int device, int database, int index,
                                 const std::string& text, long long restores) {
    const HostResult result = devices_.writeName(who, device, database, index, text, restores);
    deliverPending();
    return result;
}

HostResult HostEngine::writeBatch(NameBatch& batch, int device,
                                  const std::vector<NameChange>& changes) {
    const HostResult result = devices_.writeBatch(batch, device, changes);
    deliverPending();
    return result;
}

void HostEngine::applyRouter(const RouterUpdate& update) {
    router_.apply(update);
    deliverPending();
}

HostResult HostEngine::writeSlot(const std::string& who, int device, int index,
                                 const std::string& text) {
    const HostResult result = devices_.writeSlot(who, device, index, text);
    deliverPending();
    return result;
}

void HostEngine::catchUp() {
    std::vector<StoreChange> changes;
    try {
        changes = store_.catchUp();
    } catch (const StoreError& error) {
        if (catchUpFailure_.empty()) {
            log_.add(0, "error",
                     std::string("other hosts' writes cannot be read; the last known names are "
                                 "served until they can: ") +
                         error.what());
        }
        catchUpFailure_ = error.what();
        return;
    }
    if (!catchUpFailure_.empty()) {
        log_.add(0, "info",
                 "other hosts' writes can be read again; " + std::to_string(changes.size()) +
                     " changes taken");
        catchUpFailure_.clear();
    }
    for (const StoreChange& change : changes) {
        switch (change.kind) {
            case StoreChange::Kind::Name:
                devices_.takeName(change);
                break;
            case StoreChange::Kind::Slot:
                devices_.takeSlot(change);
                break;
            case StoreChange::Kind::Crosspoint:
                if (change.device == UmdWall::kRouter) {
                    router_.takeStored(change.index, change.source);
                }
                break;
        }
    }
    deliverPending();
}

void HostEngine::runTimers() {
    for (const TimerTick& tick : timers_.takeDue(clock_())) {
        queue_.pushTick(tick);
    }
    deliverPending();
}

std::vector<int> HostEngine::instanceIds() const {
    std::vector<int> ids;
    for (const auto& [id, instance] : instances_) {
        ids.push_back(id);
    }
    return ids;
}

EngineCounters HostEngine::counters() const {
    return EngineCounters{interpreter_.commandCounts(), notificationCounts_, store_.writeStats()};
}

std::optional<nlohmann::json> HostEngine::instanceJson(int id) const {
    const auto found = instances_.find(id);
    if (found == instances_.end()) {
        return std::nullopt;
    }
    const PanelInstance& state = found->second->state;
    nlohmann::json shown = nlohmann::json::array();
    nlohmann::json panels = nlohmann::json::array();
    for (const auto& [panelId, panel] : state.panels) {
        if (panel.shown()) {
            shown.push_back(panelId);
        }
        panels.push_back(panel.toJson());
    }
    return nlohmann::json{{"instance", id},
                          {"state", state.saidGoodbye ? "closing" : "running"},
                          {"shown", shown},
                          {"panels", panels}};
}

}  // namespace panelhost
