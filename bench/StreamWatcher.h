#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Client;
}

// Reads a panel host's event stream on a thread of its own and keeps every
// change with the moment its bytes arrived, for a caller to wait on. The
// host must outlive the watcher or close the stream first.
class StreamWatcher {
  public:
    using Clock = std::chrono::steady_clock;
    using Match = std::function<bool(const std::string& type, const nlohmann::json& data)>;

    // Connects to the stream of the host on the loopback `port`.
    // `token`: the API token to send, none when empty.
    explicit StreamWatcher(int port, const std::string& token = "");
    ~StreamWatcher();

    StreamWatcher(const StreamWatcher&) = delete;
    StreamWatcher& operator=(const StreamWatcher&) = delete;

    // Forgets every change received so far.
    void clear();
    // When the first change received since the last clear() for which
    // `matches` holds arrived; the changes before it are dropped. Nothing
    // when none arrives within `timeout`.
    std::optional<Clock::time_point> waitFor(const Match& matches,
                                             std::chrono::milliseconds timeout);

  private:
    struct Arrival {
        std::string type;
        nlohmann::json data;
        Clock::time_point at;
    };

    void read();
    // Takes the stream's bytes as they come; every complete event in them
    // is kept with the time `at`.
    void take(const char* bytes, std::size_t length, Clock::time_point at);

    std::unique_ptr<httplib::Client> client_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Arrival> arrivals_;
    std::string pending_;
    std::thread reader_;
};
