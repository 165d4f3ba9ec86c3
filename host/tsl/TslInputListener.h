#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "Socket.h"
#include "TslInput.h"
#include "TslInputParser.h"

namespace tsl {

// Listens on one tally input's port and reads every packet that comes in
// (TSL 5.0 datagrams or TCP streams, 3.1 datagrams) on a thread of its own.
// Each packet, read or refused, is handed to `onPacket` with its sender's
// address (no port: a sender's UDP port may change from packet to packet);
// `onTick` is called at least every kTickPeriod, also while nothing comes.
// Both are called on the listener's thread, never with a lock held here;
// they must not block for long, as nothing is read meanwhile. A TCP input
// takes up to kMaxConnections senders at once and closes any further one
// at once (reported as a refused packet). Destruction stops the thread.
class TslInputListener {
  public:
    using PacketCallback = std::function<void(const std::string& sender, const TslInputPacket&)>;
    using TickCallback = std::function<void()>;

    // How often onTick runs; also how long a stop may take.
    static constexpr std::chrono::milliseconds kTickPeriod{100};
    static constexpr std::size_t kMaxConnections = 16;

    // Binds the port; throws std::runtime_error naming the input and the
    // reason when it cannot be had.
    TslInputListener(const TslInput& input, PacketCallback onPacket, TickCallback onTick);
    ~TslInputListener();

    TslInputListener(const TslInputListener&) = delete;
    TslInputListener& operator=(const TslInputListener&) = delete;

  private:
    void run();
    void readDatagrams();

    const TslInput input_;
    const PacketCallback onPacket_;
    const TickCallback onTick_;
    net::Socket socket_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace tsl
