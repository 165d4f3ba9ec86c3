#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "PacketQueue.h"
#include "QueuedSender.h"
#include "Socket.h"

namespace tsl {

// Sends packets with DLE/STX framing over a TCP connection it opens as a
// client, from its own thread. When the receiver is unreachable or drops
// the connection it retries with exponential back-off (kFirstRetry doubling
// up to kMaxRetry); a packet whose sending failed is sent again after the
// reconnect. Meanwhile callers keep queueing; the oldest packets go when
// the queue is full.
class TcpTslSender : public QueuedSender {
  public:
    static constexpr std::chrono::milliseconds kFirstRetry{250};
    static constexpr std::chrono::milliseconds kMaxRetry{4000};

    TcpTslSender(std::string host, std::uint16_t port, TslStatusCallback onStatus);
    // Stops the thread within about a second (a stalled send gives up after
    // the send time-out); packets still queued are discarded.
    ~TcpTslSender() override;

  private:
    void run();
    bool connect();
    // Reports `error`, waits the current back-off and doubles it; false
    // when the sender is stopping.
    bool backOff(const std::string& error);

    const std::string host_;
    const std::uint16_t port_;
    net::Socket socket_;
    std::chrono::milliseconds retry_ = kFirstRetry;
    std::optional<PacketQueue::Packet> pending_;
    std::thread worker_;
};

}  // namespace tsl
