#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Many clients of a panel host's event stream on loopback, each on a
// connection of its own, all read by one thread (epoll) so that a thousand
// of them cost the benchmark a thread, not a thousand. A caller names a text
// with expect() and waits until every stream has received it. The host must
// outlive the crowd or close the streams first; expect() and waitAll() are
// for one thread at a time.
class StreamCrowd {
  public:
    using Clock = std::chrono::steady_clock;

    // Opens `count` streams to the host on the loopback `port`, with the
    // API token `token`; throws
    // std::runtime_error when one cannot be. The first text expected is the
    // head of a stream the host serves, so waitAll() tells when all are.
    StreamCrowd(int port, std::size_t count, const std::string& token);
    ~StreamCrowd();

    StreamCrowd(const StreamCrowd&) = delete;
    StreamCrowd& operator=(const StreamCrowd&) = delete;

    // From now on, looks for `text` in what every stream receives.
    void expect(const std::string& text);
    // When the last stream received the expected text; nothing when not
    // every stream has it within `timeout`.
    std::optional<Clock::time_point> waitAll(std::chrono::milliseconds timeout);

  private:
    struct Stream {
        int fd = -1;
        // The last bytes received, enough to find the text across reads.
        std::string tail;
        bool seen = false;
    };

    void read();
    void take(Stream& stream, const char* bytes, std::size_t length);

    std::vector<Stream> streams_;
    int epoll_ = -1;
    std::mutex mutex_;
    std::condition_variable allSeen_;
    std::string expected_;
    std::size_t seenCount_ = 0;
    Clock::time_point lastSeen_;
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};
