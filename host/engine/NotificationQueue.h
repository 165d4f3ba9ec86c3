#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "TimerTable.h"
#include "tovi_records.h"

namespace panelhost {

// A notification waiting to be delivered to one panel instance: a revertive
// (type 1), a database change (type 6) or a timer tick (type 4). It owns
// its record.
struct Notification {
    int instance = 0;
    int type = 0;
    tovi_revertive_record record{};
    TimerTick tick{};
};

// Notifications that commands and outside changes cause. They wait here
// until no call into any script is under way, so that no script is ever
// entered again from within its own call. Not thread-safe.
class NotificationQueue {
  public:
    // Queues a record of `type` (revertive or database change). `text` must
    // fit the record; longer texts are the caller's error.
    void pushRecord(int instance, int type, int device, int database, int index,
                    const std::string& text);
    void pushTick(const TimerTick& tick);

    std::optional<Notification> pop();
    bool empty() const { return pending_.empty(); }
    std::size_t size() const { return pending_.size(); }
    void clear() { pending_.clear(); }

  private:
    std::deque<Notification> pending_;
};

}  // namespace panelhost
