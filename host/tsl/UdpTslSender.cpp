#include "UdpTslSender.h"

#include <utility>

#include "TslEncoder.h"
#include "TslTarget.h"

namespace tsl {
namespace {

// A failed name lookup is not repeated sooner than this; packets meanwhile
// are dropped, since the next refresh supersedes them.
constexpr std::chrono::milliseconds kResolveRetry{2000};

}  // namespace

UdpTslSender::UdpTslSender(std::string host, std::uint16_t port, bool dleStx,
                           TslStatusCallback onStatus)
    : QueuedSender(TslTarget::network(TslTarget::Protocol::Udp, host, port).toString(),
                   std::move(onStatus)),
      host_(std::move(host)),
      port_(port),
      dleStx_(dleStx),
      worker_([this] { run(); }) {}

UdpTslSender::~UdpTslSender() {
    queue_.close();
    worker_.join();
}

bool UdpTslSender::ensureSocket() {
    if (socket_.valid()) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < nextResolve_) {
        return false;
    }
    std::string error;
    std::vector<net::SocketAddress> addresses;
    if (net::SocketAddress::resolve(host_, port_, false, addresses, error)) {
        address_ = addresses.front();
        socket_ = net::Socket::openDatagram(address_, error);
    }
    if (!socket_.valid()) {
        nextResolve_ = now + kResolveRetry;
        status_.set(TslLinkState::Error, error);
        return false;
    }
    return true;
}

void UdpTslSender::run() {
    for (;;) {
        std::optional<PacketQueue::Packet> packet = queue_.pop(PacketQueue::kSenderIdlePoll);
        if (!packet) {
            if (queue_.closed()) {
                return;
            }
            continue;
        }
        std::string error;
        const bool sent =
            ensureSocket() &&
            socket_.sendTo(address_, dleStx_ ? TslEncoder::frameForStream(*packet) : *packet,
                           error);
        if (sent) {
            status_.countSent();
            status_.set(TslLinkState::Ok, "sending to " + address_.text);
        } else {
            status_.countDropped();
            if (!error.empty()) {
                status_.set(TslLinkState::Error, error);
                socket_.close();
            }
        }
        queue_.done();
    }
}

}  // namespace tsl
