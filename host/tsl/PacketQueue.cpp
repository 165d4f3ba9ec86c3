#include "PacketQueue.h"

#include <utility>

namespace tsl {

PacketQueue::PacketQueue(std::size_t capacity) : capacity_(capacity) {}

bool PacketQueue::push(Packet packet) {
    bool kept = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return false;
        }
        if (packets_.size() >= capacity_) {
            packets_.pop_front();
            kept = false;
        }
        packets_.push_back(std::move(packet));
    }
    changed_.notify_all();
    return kept;
}

std::optional<PacketQueue::Packet> PacketQueue::pop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return closed_ || !packets_.empty(); });
    if (closed_ || packets_.empty()) {
        return std::nullopt;
    }
    Packet packet = std::move(packets_.front());
    packets_.pop_front();
    inFlight_ = true;
    return packet;
}

void PacketQueue::done() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inFlight_ = false;
    }
    changed_.notify_all();
}

bool PacketQueue::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout,
                      [this] { return closed_ || (packets_.empty() && !inFlight_); });
    return !closed_ && packets_.empty() && !inFlight_;
}

bool PacketQueue::sleepUnlessClosed(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return closed_; });
}

void PacketQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool PacketQueue::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

}  // namespace tsl
