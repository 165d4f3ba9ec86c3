#include "SerialTslSender.h"

#include <optional>
#include <stdexcept>
#include <utility>

namespace tsl {
namespace {

std::string openedDetail(const SerialSettings& asked, const std::string& kept) {
    return kept == asked.describe()
               ? "line open, " + kept
               : "line open; asked for " + asked.describe() + ", the line reports " + kept;
}

std::string retryDetail(const std::string& error) {
    return error + "; trying again every " +
           std::to_string(SerialTslSender::kReopenPeriod.count()) + " ms";
}

}  // namespace

SerialTslSender::SerialTslSender(std::string name, std::string device, SerialSettings settings,
                                 TslStatusCallback onStatus)
    : QueuedSender(name, std::move(onStatus)), device_(std::move(device)), settings_(settings) {
    SerialPort::Failure failure = SerialPort::Failure::None;
    std::string error;
    std::string kept;
    port_ = SerialPort::open(device_, settings_, failure, error, kept);
    if (failure == SerialPort::Failure::NotASerialDevice) {
        throw std::invalid_argument("display target " + name + ": " + error);
    }
    if (port_.valid()) {
        ++openings_;
        status_.set(TslLinkState::Ok, openedDetail(settings_, kept));
    } else {
        nextOpen_ = std::chrono::steady_clock::now() + kReopenPeriod;
        status_.set(TslLinkState::Error, retryDetail(error));
    }
    worker_ = std::thread([this] { run(); });
}

SerialTslSender::~SerialTslSender() {
    queue_.close();
    worker_.join();
}

TslTransportStatus SerialTslSender::status() const {
    TslTransportStatus status = QueuedSender::status();
    status.linkOpenings = openings_;
    return status;
}

bool SerialTslSender::ensureOpen() {
    if (port_.valid()) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < nextOpen_) {
        return false;
    }
    nextOpen_ = now + kReopenPeriod;
    SerialPort::Failure failure = SerialPort::Failure::None;
    std::string error;
    std::string kept;
    port_ = SerialPort::open(device_, settings_, failure, error, kept);
    if (!port_.valid()) {
        // The state stays what the loss or the start reported: a line that
        // stays away is logged once, not once a second.
        if (status_.snapshot().state != TslLinkState::Error) {
            status_.set(TslLinkState::Error, retryDetail(error));
        }
        return false;
    }
    ++openings_;
    status_.set(TslLinkState::Ok, openedDetail(settings_, kept));
    return true;
}

void SerialTslSender::lose(const std::string& why) {
    port_.close();
    nextOpen_ = std::chrono::steady_clock::now() + kReopenPeriod;
    status_.set(TslLinkState::Error, "the line is gone (" + why +
                                         "); packets are dropped until it returns, then the "
                                         "whole wall is sent again");
}

void SerialTslSender::run() {
    for (;;) {
        std::optional<PacketQueue::Packet> packet = queue_.pop(PacketQueue::kSenderIdlePoll);
        if (!packet && queue_.closed()) {
            return;
        }
        std::string why;
        if (port_.valid() && port_.hungUp(why)) {
            lose(why);
        }
        const bool open = ensureOpen();
        if (!packet) {
            continue;
        }
        std::string error;
        if (open && port_.writeAll(*packet, kWriteTimeout, error)) {
            status_.countSent();
        } else {
            if (open) {
                lose(error);
            }
            status_.countDropped();
        }
        queue_.done();
    }
}

}  // namespace tsl
