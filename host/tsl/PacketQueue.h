#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace tsl {

// A bounded queue of packets between callers and one sender thread. Pushing
// never blocks: a full queue drops its oldest packet, because the newest
// state is what a display should show. A taken packet counts as in flight
// until the sender calls done(), so waitIdle() means "all handed on".
class PacketQueue {
  public:
    using Packet = std::vector<std::uint8_t>;

    // A sender's queue: room for two full refreshes of the 128 displays even
    // when every display has a packet of its own.
    static constexpr std::size_t kSenderCapacity = 256;
    // How long a sender thread waits for a packet before it looks at its
    // connection and its stop flag again.
    static constexpr std::chrono::milliseconds kSenderIdlePoll{200};

    explicit PacketQueue(std::size_t capacity);

    // Adds `packet`; false when the oldest packet had to be dropped for it.
    // Packets pushed after close() are discarded.
    bool push(Packet packet);

    // The oldest packet, waiting up to `timeout`; nothing on time-out or
    // once the queue is closed.
    std::optional<Packet> pop(std::chrono::milliseconds timeout);

    // Ends the in-flight state of the last packet taken with pop().
    void done();

    // Waits up to `timeout` until the queue is empty and nothing is in
    // flight; false on time-out or when closed first.
    bool waitIdle(std::chrono::milliseconds timeout);

    // Waits `duration` or until close(); false when closed.
    bool sleepUnlessClosed(std::chrono::milliseconds duration);

    // Wakes every waiter; from then on pop() returns nothing.
    void close();
    bool closed() const;

  private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Packet> packets_;
    bool inFlight_ = false;
    bool closed_ = false;
};

}  // namespace tsl
