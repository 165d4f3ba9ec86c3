#include "TcpTslSender.h"

#include <algorithm>
#include <utility>

#include "TslEncoder.h"
#include "TslTarget.h"

namespace tsl {
namespace {

// Receivers on a studio network answer a connect within milliseconds; one
// that takes seconds is treated as absent and tried again later.
constexpr std::chrono::milliseconds kConnectTimeout{2000};
// A receiver that stops reading for this long is treated as gone.
constexpr std::chrono::milliseconds kSendTimeout{2000};

// "0.25 s", "4 s": a back-off as the status shows it.
std::string seconds(std::chrono::milliseconds ms) {
    constexpr long long kPerSecond = 1000;
    std::string text = std::to_string(ms.count() / kPerSecond);
    std::string fraction = std::to_string(kPerSecond + ms.count() % kPerSecond).substr(1);
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    return fraction.empty() ? text + " s" : text + "." + fraction + " s";
}

}  // namespace

TcpTslSender::TcpTslSender(std::string host, std::uint16_t port, TslStatusCallback onStatus)
    : QueuedSender(TslTarget::network(TslTarget::Protocol::Tcp, host, port).toString(),
                   std::move(onStatus)),
      host_(std::move(host)),
      port_(port),
      worker_([this] { run(); }) {}

TcpTslSender::~TcpTslSender() {
    queue_.close();
    worker_.join();
}

bool TcpTslSender::backOff(const std::string& error) {
    status_.set(TslLinkState::Error, error + "; next try in " + seconds(retry_));
    const bool running = queue_.sleepUnlessClosed(retry_);
    retry_ = std::min(retry_ * 2, kMaxRetry);
    return running;
}

bool TcpTslSender::connect() {
    // Retries of a failing receiver stay in the error state, so the log shows
    // the failure once its back-off has settled rather than every attempt.
    if (status_.snapshot().state != TslLinkState::Error) {
        status_.set(TslLinkState::Connecting,
                    "connecting to " + host_ + ":" + std::to_string(port_));
    }
    std::string error;
    socket_ = net::Socket::connect(
        host_, port_, kConnectTimeout, kSendTimeout, [this] { return queue_.closed(); }, error);
    if (!socket_.valid()) {
        backOff(error);
        return false;
    }
    status_.set(TslLinkState::Ok, "connected to " + socket_.peer());
    return true;
}

void TcpTslSender::run() {
    while (!queue_.closed()) {
        if (!socket_.valid() && !connect()) {
            continue;
        }
        if (!pending_) {
            pending_ = queue_.pop(PacketQueue::kSenderIdlePoll);
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
        const net::Socket::Sent sent =
            socket_.sendAll(TslEncoder::frameForStream(*pending_), error);
        if (sent != net::Socket::Sent::All) {
            socket_.close();
            backOff("sending failed: " +
                    (sent == net::Socket::Sent::Stalled ? "the receiver stopped reading" : error));
            continue;
        }
        status_.countSent();
        retry_ = kFirstRetry;
        pending_.reset();
        queue_.done();
    }
}

}  // namespace tsl
