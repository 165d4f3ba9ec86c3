#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ChangeFeed.h"
#include "DeviceCatalog.h"
#include "EventLog.h"
#include "HostResult.h"
#include "NameStore.h"
#include "NotificationQueue.h"

namespace panelhost {

// One name of a batch: which entry of the device, and its new text.
struct NameChange {
    int database = 0;
    int index = 0;
    std::string text;
};

// The simulated devices as the panel instances and the API reach them:
// checks every address against the catalog, refuses every text that holds
// a control character (ControlCharacters) whoever writes it, persists
// writes before anyone hears of them, keeps who registered for what, and
// queues the revertives and database changes that writes and polls cause.
// Every write, from a script or from outside, notifies the same way. Not
// thread-safe; all references must outlive the bus.
class DeviceBus {
  public:
    // Longest slot text or name a notification record carries.
    static constexpr std::size_t kLongestText = tovi_revertive_record::kTextCapacity - 1;

    DeviceBus(const DeviceCatalog& catalog, NameStore& store, NotificationQueue& queue,
              ChangeFeed& feed, EventLog& log);

    const DeviceCatalog& catalog() const { return catalog_; }

    // The device number of an instance name.
    std::optional<int> lookup(const std::string& name) const;

    // Reads a name; nothing when the device has no such entry.
    std::optional<std::string> readName(int device, int database, int index) const;
    // Reads a slot; nothing when the device has no such slot.
    std::optional<std::string> readSlot(int device, int index) const;

    // Writes a slot and queues a revertive to every instance registered for
    // it. `who` is logged.
    HostResult writeSlot(const std::string& who, int device, int index, const std::string& text);
    // Writes a name, records it in the history under `who`, and queues a
    // database change to every instance registered for that entry.
    // `restores`, when not 0, is the history entry whose text this puts back.
    HostResult writeName(const std::string& who, int device, int database, int index,
                         const std::string& text, long long restores = 0);
    // Writes several names of `device` in one transaction, recorded as the
    // batch `batch` (which receives its id and time), and notifies each
    // like writeName. Nothing is written when any entry does not exist or
    // any text is too long or holds a control character. A change of a
    // name it already changed sees the earlier change as its old text;
    // callers pass each entry once.
    HostResult writeBatch(NameBatch& batch, int device, const std::vector<NameChange>& changes);

    // A name or slot that another host wrote to the shared store, already
    // in the store's memory: logged, published and notified as a write here
    // would be, without writing it again. Entries of devices or slots this
    // host does not have are left out (false).
    bool takeName(const StoreChange& change);
    bool takeSlot(const StoreChange& change);

    // "IR" and "RR": registers `instance` for slots (or entries) `from` to
    // `to`; `add` keeps its earlier ranges on that device, otherwise they
    // are replaced.
    HostResult registerSlots(int instance, int device, int from, int to, bool add);
    HostResult registerNames(int instance, int device, int from, int to, bool add);
    // "IU": drops every slot registration of `instance` on `device`.
    HostResult unregisterSlots(int instance, int device);
    // "IP": queues a revertive of each slot's current contents to `instance`.
    HostResult poll(int instance, int device, int from, int to);

    // Forgets every registration of `instance`.
    void forget(int instance);

  private:
    using Range = std::pair<int, int>;
    using Registrations = std::map<std::pair<int, int>, std::vector<Range>>;

    const DeviceSpec* slotDevice(int device, HostResult& error) const;
    const DeviceSpec* nameEntry(int device, int database, int index, const std::string& text,
                                HostResult& error) const;
    void announceName(const std::string& who, int device, int database, int index,
                      const std::string& oldText, const std::string& text);
    void announceSlot(const std::string& who, int device, int index, const std::string& text);
    static HostResult checkRange(const DeviceSpec& device, int from, int to, int last,
                                 const char* what);
    static void addRange(Registrations& table, int instance, int device, int from, int to,
                         bool add);
    static std::vector<int> registered(const Registrations& table, int device, int index);

    const DeviceCatalog& catalog_;
    NameStore& store_;
    NotificationQueue& queue_;
    ChangeFeed& feed_;
    EventLog& log_;
    Registrations slotRegistrations_;
    Registrations nameRegistrations_;
};

}  // namespace panelhost
