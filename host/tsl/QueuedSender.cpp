#include "QueuedSender.h"

#include <utility>

namespace tsl {

QueuedSender::QueuedSender(std::string target, TslStatusCallback onStatus)
    : status_(std::move(target), std::move(onStatus)), queue_(PacketQueue::kSenderCapacity) {}

void QueuedSender::send(std::vector<std::uint8_t> packet) {
    if (!queue_.push(std::move(packet))) {
        status_.countDropped();
    }
}

bool QueuedSender::flush(std::chrono::milliseconds timeout) {
    return queue_.waitIdle(timeout);
}

TslTransportStatus QueuedSender::status() const {
    return status_.snapshot();
}

}  // namespace tsl
