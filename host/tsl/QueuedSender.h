#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "PacketQueue.h"
#include "SenderStatus.h"
#include "TslTransport.h"

namespace tsl {

// What the UDP, TCP and serial senders share: the bounded queue their sender thread
// drains and the status it reports. Callers queue without blocking; a full
// queue drops its oldest packet and counts it in the status. The derived
// sender owns the thread and must close the queue and join the thread in its
// destructor, before this part goes.
class QueuedSender : public TslTransport {
  public:
    QueuedSender(const QueuedSender&) = delete;
    QueuedSender& operator=(const QueuedSender&) = delete;

    void send(std::vector<std::uint8_t> packet) override;
    bool flush(std::chrono::milliseconds timeout) override;
    TslTransportStatus status() const override;

  protected:
    // `target` (such as "udp:HOST:PORT") names the sender in its status.
    QueuedSender(std::string target, TslStatusCallback onStatus);
    ~QueuedSender() override = default;

    SenderStatus status_;
    PacketQueue queue_;
};

}  // namespace tsl
