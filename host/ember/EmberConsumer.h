#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "EmberConsumerListener.h"
#include "EmberEndpoint.h"
#include "MatrixFollower.h"
#include "S101Decoder.h"
#include "Socket.h"

namespace ember {

// Follows one matrix of an Ember+ provider over TCP from its own thread:
// connects, walks the tree to the matrix, reads its labels and connections
// and reports them, and every change after, to the listener (on this
// consumer's thread; see EmberConsumerListener for what a listener may
// do). Answers and sends keep-alives; a provider that falls silent, closes
// the connection or sends malformed data is disconnected with the reason,
// and the consumer reconnects with exponential back-off (kFirstRetry
// doubling up to kMaxRetry). The listener must outlive the consumer, and a
// listener must not destroy the consumer from within a callback.
class EmberConsumer {
  public:
    static constexpr std::chrono::milliseconds kFirstRetry{250};
    static constexpr std::chrono::milliseconds kMaxRetry{8000};
    // Silence after which a keep-alive request is sent, and after which a
    // provider that answered nothing at all counts as gone.
    static constexpr std::chrono::milliseconds kKeepAliveInterval{5000};
    static constexpr std::chrono::milliseconds kSilenceLimit{15000};
    // Time a provider has to answer one GetDirectory.
    static constexpr std::chrono::milliseconds kRequestTimeout{10000};

    EmberConsumer(EmberEndpoint endpoint, EmberConsumerListener& listener);
    // Stops the thread within about a second (a stalled send gives up after
    // its time-out) and closes the connection; reports nothing more.
    ~EmberConsumer();

    EmberConsumer(const EmberConsumer&) = delete;
    EmberConsumer& operator=(const EmberConsumer&) = delete;

  private:
    void run();
    // One connection from connect to its end; returns why it ended, and in
    // `reachedModel` whether the model was complete before.
    std::string session(bool& reachedModel);
    // Feeds received bytes through framing, Glow and the follower; false
    // with the reason when the connection must end.
    bool receive(const std::uint8_t* data, std::size_t size, std::string& reason);
    bool send(const std::vector<std::uint8_t>& frame, std::string& reason);
    // Waits `duration` unless stopped first; false when stopping.
    bool sleepUnlessStopped(std::chrono::milliseconds duration) const;

    const EmberEndpoint endpoint_;
    EmberConsumerListener& listener_;
    MatrixFollower follower_;
    S101Decoder decoder_;
    net::Socket stream_;
    std::chrono::steady_clock::time_point requestSent_;
    std::chrono::milliseconds retry_ = kFirstRetry;
    std::string lastReported_;
    std::atomic<bool> stopping_{false};
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread worker_;
};

}  // namespace ember
