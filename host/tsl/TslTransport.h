#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tsl {

enum class TslLinkState {
    // Nothing sent or tried yet.
    Idle,
    // A stream connection is being set up.
    Connecting,
    // The last packet went out (UDP) or the connection is up (TCP).
    Ok,
    // The last attempt failed; the transport keeps trying.
    Error,
};

const char* toString(TslLinkState state);

// What a transport reports about itself, for the host's log and UI.
struct TslTransportStatus {
    // The target in its TslTarget::toString() form.
    std::string target;
    TslLinkState state = TslLinkState::Idle;
    // A readable account of the last change, e.g. the error and the retry.
    std::string detail;
    std::uint64_t packetsSent = 0;
    // Packets given up: queue overflow, or sending failed for a datagram.
    std::uint64_t packetsDropped = 0;
    // How often a link that displays may have missed packets on was opened
    // (a serial line that returned); the output sends such a link the whole
    // wall again. Stays 0 for transports that need no such resend.
    std::uint64_t linkOpenings = 0;
};

// Called on every change of state or detail, from the transport's own
// thread: it must be quick and must not call back into the transport.
using TslStatusCallback = std::function<void(const TslTransportStatus&)>;

// A path to one receiver. Implementations are thread-safe, never block the
// caller of send() and never fail fatally: errors show in status().
class TslTransport {
  public:
    virtual ~TslTransport() = default;

    // Queues one packet (unframed; the transport adds the framing its
    // link needs). When the queue is full the oldest packet is dropped.
    virtual void send(std::vector<std::uint8_t> packet) = 0;

    // Waits up to `timeout` until every queued packet has been handed to the
    // network; false if some are still waiting (e.g. no connection).
    virtual bool flush(std::chrono::milliseconds timeout) = 0;

    virtual TslTransportStatus status() const = 0;
};

}  // namespace tsl
