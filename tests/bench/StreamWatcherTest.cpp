// The watcher must find a change however the stream cuts its bytes, skip
// keep-alives and other changes, and give up in time, or the latency
// figures would measure the wrong change or wait forever.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "StreamWatcher.h"

namespace {
using nlohmann::json;
using namespace std::chrono_literals;

constexpr auto kSoon = 2000ms;
constexpr auto kNever = 200ms;

// Serves /api/stream with `pieces` written one by one, then holds the
// stream open until the server stops.
class CannedStream {
  public:
    explicit CannedStream(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {
        server_.Get("/api/stream", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/event-stream",
                                                  [this](std::size_t, httplib::DataSink& sink) {
                                                      for (const std::string& piece : pieces_) {
                                                          sink.write(piece.data(), piece.size());
                                                      }
                                                      while (!stopping_) {
                                                          std::this_thread::sleep_for(10ms);
                                                      }
                                                      sink.done();
                                                      return true;
                                                  });
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        listener_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~CannedStream() {
        stopping_ = true;
        server_.stop();
        listener_.join();
    }
    CannedStream(const CannedStream&) = delete;
    CannedStream& operator=(const CannedStream&) = delete;

    int port() const { return port_; }

  private:
    std::vector<std::string> pieces_;
    std::atomic<bool> stopping_{false};
    httplib::Server server_;
    int port_ = 0;
    std::thread listener_;
};

StreamWatcher::Match control(const char* name) {
    return [name](const std::string& type, const json& data) {
        return type == "control" && data.is_object() && data.contains("control") &&
               data["control"] == name;
    };
}

TEST(StreamWatcher, FindsAChangeCutAcrossWritesAmongOthers) {
    CannedStream stream({": keep-alive\n\n",
                         "id: 1\nevent: log\ndata: {\"text\":\"started\"}\n\nid: 2\nevent: con",
                         "trol\ndata: {\"control\":\"Sel", "ect_3\",\"value\":\"on\"}\n", "\n"});
    StreamWatcher watcher(stream.port());
    EXPECT_TRUE(watcher.waitFor(control("Select_3"), kSoon).has_value());
    // Taken: the same change is not found twice.
    EXPECT_FALSE(watcher.waitFor(control("Select_3"), kNever).has_value());
}

TEST(StreamWatcher, GivesUpWhenNoChangeMatches) {
    CannedStream stream({"event: control\ndata: {\"control\":\"Select_4\"}\n\n"});
    StreamWatcher watcher(stream.port());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(watcher.waitFor(control("Select_3"), kNever).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, kNever);
}

TEST(StreamWatcher, DropsTheChangesBeforeTheOneFound) {
    CannedStream stream({"event: control\ndata: {\"control\":\"Select_3\"}\n\n",
                         "event: control\ndata: {\"control\":\"Select_4\"}\n\n"});
    StreamWatcher watcher(stream.port());
    EXPECT_TRUE(watcher.waitFor(control("Select_4"), kSoon).has_value());
    EXPECT_FALSE(watcher.waitFor(control("Select_3"), kNever).has_value());
}

}  // namespace
