#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "PacketQueue.h"
#include "QueuedSender.h"
#include "Socket.h"

namespace tsl {

// Sends each packet as one datagram to one receiver, from its own thread.
// With `dleStx` each datagram carries the stream framing too (some
// receivers want it on UDP, others reject it, so it is off by default).
// The host name is resolved on the sender thread and looked up again after
// a failure, so a receiver that appears later is found.
class UdpTslSender : public QueuedSender {
  public:
    UdpTslSender(std::string host, std::uint16_t port, bool dleStx, TslStatusCallback onStatus);
    // Stops the thread; packets still queued are discarded (flush() first
    // to send them).
    ~UdpTslSender() override;

  private:
    void run();
    bool ensureSocket();

    const std::string host_;
    const std::uint16_t port_;
    const bool dleStx_;
    net::Socket socket_;
    net::SocketAddress address_;
    std::chrono::steady_clock::time_point nextResolve_{};
    std::thread worker_;
};

}  // namespace tsl
