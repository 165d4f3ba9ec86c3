#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// Many pages of the front end reconnecting to a panel host at once, as after
// a network blip: each page, on a connection of its own, asks for
// /api/session, /api/panels and /api/wall one after the other, as the page
// does when it loads, then opens /api/stream. One thread drives every page
// (epoll), so a thousand of them cost the benchmark one thread. The host
// must be on loopback.
class ReconnectStorm {
  public:
    using Clock = std::chrono::steady_clock;

    struct Outcome {
        // From the first connection to the last page whose stream is open.
        Clock::duration allLive{};
        std::size_t live = 0;
        // Pages that got an answer other than 200, or lost their connection.
        std::size_t refused = 0;
        // What the first of them got, for the report.
        std::string firstRefusal;
    };

    // `tokens` are the pages' API tokens, one per page.
    ReconnectStorm(int port, std::vector<std::string> tokens);

    // Starts every page at once and waits until all are live, or one
    // failed, or `timeout` passed; the streams are closed when it returns.
    Outcome run(std::chrono::milliseconds timeout);

  private:
    int port_;
    std::vector<std::string> tokens_;
};
