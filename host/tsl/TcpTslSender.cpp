#include "TcpTslSender.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "TslEncoder.h"
#include "TslTarget.h"

namespace tsl {
namespace {

// Room for two full refreshes even when every display has a packet of its own.
constexpr std::size_t kQueueCapacity = 256;
// How long the thread waits for a packet before checking the connection
// and its stop flag.
constexpr std::chrono::milliseconds kIdlePoll{200};
constexpr std::chrono::milliseconds kConnectTimeout{2000};
// A receiver that stops reading for this long is treated as gone.
constexpr std::chrono::milliseconds kSendTimeout{2000};

std::string seconds(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

}  // namespace

TcpTslSender::TcpTslSender(std::string host, std::uint16_t port, TslStatusCallback onStatus)
    : host_(std::move(host)),
      port_(port),
      status_(TslTarget{TslTarget::Protocol::Tcp, host_, port_}.toString(), std::move(onStatus)),
      queue_(kQueueCapacity),
      worker_([this] { run(); }) {}

TcpTslSender::~TcpTslSender() {
    queue_.close();
    worker_.join();
}

void TcpTslSender::send(std::vector<std::uint8_t> packet) {
    if (!queue_.push(std::move(packet))) {
        status_.countDropped();
    }
}

bool TcpTslSender::flush(std::chrono::milliseconds timeout) {
    return queue_.waitIdle(timeout);
}

TslTransportStatus TcpTslSender::status() const {
    return status_.snapshot();
}

bool TcpTslSender::backOff(const std::string& error) {
    status_.set(TslLinkState::Error, error + "; next try in " + seconds(retry_));
    const bool running = queue_.sleepUnlessClosed(retry_);
    retry_ = std::min(retry_ * 2, kMaxRetry);
    return running;
}

bool TcpTslSender::connect() {
    status_.set(TslLinkState::Connecting, "connecting to " + host_ + ":" + std::to_string(port_));
    std::string error;
    std::vector<SocketAddress> addresses;
    if (!PosixSocket::resolve(host_, port_, true, addresses, error)) {
        backOff(error);
        return false;
    }
    for (const SocketAddress& address : addresses) {
        socket_ = PosixSocket::connectStream(
            address, kConnectTimeout, kSendTimeout, [this] { return queue_.closed(); }, error);
        if (socket_.valid()) {
            status_.set(TslLinkState::Ok, "connected to " + address.text);
            return true;
        }
    }
    backOff(error);
    return false;
}

void TcpTslSender::run() {
    while (!queue_.closed()) {
        if (!socket_.valid() && !connect()) {
            continue;
        }
        if (!pending_) {
            pending_ = queue_.pop(kIdlePoll);
        }
        // Checked before each send too: the first send into a connection the
        // peer has closed still succeeds locally, and its packet would be lost.
        if (socket_.peerHasClosed()) {
            socket_.close();
            backOff("the receiver closed the connection");
            continue;
        }
        if (!pending_) {
            continue;
        }
        std::string error;
        if (!socket_.sendAll(TslEncoder::frameForStream(*pending_), error)) {
            socket_.close();
            backOff("sending failed: " + error);
            continue;
        }
        status_.countSent();
        retry_ = kFirstRetry;
        pending_.reset();
        queue_.done();
    }
}

}  // namespace tsl
