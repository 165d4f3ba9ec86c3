#include "SenderStatus.h"

#include <utility>

namespace tsl {

const char* toString(TslLinkState state) {
    switch (state) {
        case TslLinkState::Idle:
            return "idle";
        case TslLinkState::Connecting:
            return "connecting";
        case TslLinkState::Ok:
            return "ok";
        case TslLinkState::Error:
            return "error";
    }
    return "unknown";
}

SenderStatus::SenderStatus(std::string target, TslStatusCallback callback)
    : callback_(std::move(callback)) {
    status_.target = std::move(target);
}

void SenderStatus::set(TslLinkState state, std::string detail) {
    TslTransportStatus copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_.state == state && status_.detail == detail) {
            return;
        }
        status_.state = state;
        status_.detail = std::move(detail);
        copy = status_;
    }
    if (callback_) {
        callback_(copy);
    }
}

void SenderStatus::countSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++status_.packetsSent;
}

void SenderStatus::countDropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++status_.packetsDropped;
}

TslTransportStatus SenderStatus::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

}  // namespace tsl
