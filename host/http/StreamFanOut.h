#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ChangeFeed.h"
#include "EventLog.h"
#include "HttpServer.h"
#include "SnapshotFence.h"

namespace panelhost {

// Feeds every event stream of an HttpServer from one subscription of the
// change feed, on a thread of its own: each change is formatted once and the
// same text goes to every stream. When nothing changes it sends a keep-alive
// comment, which finds vanished clients. A change the API's snapshot shows
// goes out once the snapshot holds it (`fence`), so that a stream's first
// message and the changes after it miss nothing. Streams the server closed
// or refused are logged together, at most once per report interval. The
// feed, the server, the log and the fence must outlive the object.
class StreamFanOut {
  public:
    // How long the streams stay silent before a keep-alive: with the
    // server's write timeout a vanished client is let go within 5 s.
    static constexpr std::chrono::seconds kKeepAlive{2};
    // Closed and refused streams are reported at most this often.
    static constexpr std::chrono::seconds kReportEvery{10};

    StreamFanOut(ChangeFeed& feed, HttpServer& server, EventLog& log, SnapshotFence& fence);
    // Stops the thread: at once when the feed is closed, else within
    // kKeepAlive.
    ~StreamFanOut();

    StreamFanOut(const StreamFanOut&) = delete;
    StreamFanOut& operator=(const StreamFanOut&) = delete;

  private:
    void run();
    void report();

    ChangeFeed& feed_;
    HttpServer& server_;
    EventLog& log_;
    SnapshotFence& fence_;
    const std::shared_ptr<ChangeFeed::Subscription> subscription_;
    std::chrono::steady_clock::time_point lastReport_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace panelhost
