#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "AnswerLedger.h"
#include "ChangeFeed.h"
#include "CommandInterpreter.h"
#include "DeviceBus.h"
#include "EventLog.h"
#include "HostCallback.h"
#include "HostResult.h"
#include "NameStore.h"
#include "NotificationQueue.h"
#include "PanelInstance.h"
#include "RouterMirror.h"
#include "ScriptCallObserver.h"
#include "TimerTable.h"
#include "tovi_client_callback.h"

namespace panelhost {

// What the engine counted since it started, for the metrics page: plain
// numbers, copied out on the engine thread.
struct EngineCounters {
    // Command lines by command word ("malformed": not parsed).
    std::map<std::string, std::uint64_t> commands;
    // Notifications delivered, by kind: revertive, database change, timer.
    std::map<std::string, std::uint64_t> notifications;
    StoreWriteStats storeWrites;
};

// Makes one script object for a host object and a layout folder, as the
// plugin's load_tovi_client_script does.
using ScriptFactory = std::function<tovi_client_callback*(tovi_client_callback*, const char*)>;

// The panel host: the panel instances with their scripts, and everything
// that reaches a script. It makes one call into one script at a time and
// never enters a script from within a call into a script: the
// notifications that commands and outside changes cause are queued and
// delivered once the call under way has returned, before the request that
// caused them returns.
//
// Single-threaded: every member, and every script, is called from one
// thread at a time (EngineThread provides that thread). The catalog, store,
// log and feed must outlive the engine.
class HostEngine {
  public:
    using Clock = CommandInterpreter::Clock;

    // Most notifications delivered for one request: scripts that keep
    // causing each other's notifications are cut off there.
    static constexpr std::size_t kNotificationLimit = 100000;

    HostEngine(const DeviceCatalog& catalog, NameStore& store, EventLog& log, ChangeFeed& feed,
               Clock clock);
    // Destroys the instances still alive.
    ~HostEngine();

    HostEngine(const HostEngine&) = delete;
    HostEngine& operator=(const HostEngine&) = delete;

    // `observer` (may be null) must outlive the engine or be replaced first.
    void setObserver(ScriptCallObserver* observer) { observer_ = observer; }

    // Creates a panel instance: calls `factory` with the instance's host
    // object and `path`; the script's start-up runs inside. Returns the
    // instance id (from 1). Throws std::runtime_error when no script is made.
    int createInstance(const ScriptFactory& factory, const std::string& path);
    // Destroys the script (its destructor sends "AS" last) and the instance.
    HostResult destroyInstance(int instance);
    void destroyAll();

    // An operator event on a control: refused unless the panel is shown and
    // the control is visible, enabled and sends such an event. What the
    // script writes while it handles the event is recorded as `actor`'s
    // (when given) on the instance.
    HostResult controlEvent(int instance, const std::string& panel, const std::string& control,
                            const std::string& event, const std::string& actor = "");
    // A host message (type 3); `answer` receives the script's answer or
    // nothing, and the script's text is handed back to it. Writes are
    // recorded as for controlEvent().
    HostResult hostMessage(int instance, const std::string& text,
                           std::optional<std::string>& answer, const std::string& actor = "");
    // Changes made elsewhere: written, persisted and notified like "RM"/"IW".
    HostResult writeName(const std::string& who, int device, int database, int index,
                         const std::string& text, long long restores = 0);
    // Several names of one device, written and notified as one batch
    // (DeviceBus::writeBatch).
    HostResult writeBatch(NameBatch& batch, int device, const std::vector<NameChange>& changes);
    HostResult writeSlot(const std::string& who, int device, int index, const std::string& text);

    // News from the router behind the router device: applied like a write
    // made elsewhere, its notifications delivered before this returns.
    void applyRouter(const RouterUpdate& update);
    RouterMirror& router() { return router_; }
    const RouterMirror& router() const { return router_; }

    // Takes what other hosts wrote to a shared store (NameStore::catchUp)
    // and publishes each change as a write made elsewhere is published
    // (event stream, displays, registered instances; a crosspoint to the
    // router mirror), without writing it again or adding history. A store
    // that cannot be read now is logged when that starts and ends.
    void catchUp();

    // Delivers a tick of every timer due now.
    void runTimers();
    std::optional<TimerTable::TimePoint> nextTimerDue() const { return timers_.nextDue(); }

    const DeviceBus& devices() const { return devices_; }
    std::vector<HistoryEntry> history(const HistoryQuery& query) const {
        return store_.history(query);
    }
    // The stored names and their history, to read.
    const NameStore& store() const { return store_; }
    std::vector<int> instanceIds() const;
    EngineCounters counters() const;
    // Counts every change the engine has published (with the rest of the
    // change feed): what it shows can only differ from a copy taken at the
    // same count after the count has moved.
    long long changeCount() const { return feed_.lastId(); }
    // The same, by kind of change (ChangeFeed::kindCounts).
    ChangeFeed::KindCounts changeCounts() const { return feed_.kindCounts(); }
    // One instance as the HTTP API shows it; nothing when there is none.
    std::optional<nlohmann::json> instanceJson(int instance) const;

    // Everything a script sends to its host object arrives here.
    void* fromScript(int instance, void* data, int type);

  private:
    struct Instance {
        PanelInstance state;
        std::unique_ptr<HostCallback> callback;
        tovi_client_callback* script = nullptr;
    };

    Instance* find(int instance);
    // Ends an operator's event or message on the instance, if it still
    // exists: later writes are the script's own again.
    void clearActor(int instance);
    HostResult usable(int instance, Instance*& found);
    template <typename Call>
    void callScript(Instance& instance, Call&& call);
    void deliverPending();
    void deliver(const Notification& notification);
    void release(int instance, void* answer);

    NameStore& store_;
    EventLog& log_;
    ChangeFeed& feed_;
    Clock clock_;
    NotificationQueue queue_;
    TimerTable timers_;
    AnswerLedger answers_;
    DeviceBus devices_;
    RouterMirror router_;
    CommandInterpreter interpreter_;
    std::map<int, std::unique_ptr<Instance>> instances_;
    int lastId_ = 0;
    ScriptCallObserver* observer_ = nullptr;
    std::map<std::string, std::uint64_t> notificationCounts_;
    // Why the last catch-up failed; empty when it succeeded.
    std::string catchUpFailure_;
};

}  // namespace panelhost
