#include "NotificationQueue.h"

#include <algorithm>
#include <cstring>

#include "tovi_client_callback.h"

namespace panelhost {

void NotificationQueue::pushRecord(int instance, int type, int device, int database, int index,
                                   const std::string& text) {
    Notification notification;
    notification.instance = instance;
    notification.type = type;
    notification.record.device = device;
    notification.record.database = database;
    notification.record.index = index;
    const std::size_t length = std::min(text.size(), tovi_revertive_record::kTextCapacity - 1);
    std::memcpy(notification.record.text, text.data(), length);
    notification.record.text[length] = '\0';
    pending_.push_back(notification);
}

void NotificationQueue::pushTick(const TimerTick& tick) {
    Notification notification;
    notification.instance = tick.instance;
    notification.type = tovi_type::kTimer;
    notification.tick = tick;
    pending_.push_back(notification);
}

std::optional<Notification> NotificationQueue::pop() {
    if (pending_.empty()) {
        return std::nullopt;
    }
    Notification front = pending_.front();
    pending_.pop_front();
    return front;
}

}  // namespace panelhost
