#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RunningHost.h"
#include "TempFolder.h"

using nlohmann::json;

namespace {

// The router's name that the editor panel's source list shows as row 3's
// caption: the start message carries it.
const std::string kCaption = "/api/devices/1/databases/0/3";
constexpr int kRouter = 1;
constexpr int kRouterNames = 0;
constexpr int kRow = 3;
constexpr int kWrites = 300;
constexpr int kStreams = 12;
// How long the streams may take to bring the last write once it is made.
constexpr auto kPatience = std::chrono::seconds(10);

std::string written(int round) {
    return "W " + std::to_string(round);
}

// One event stream read whole, on its own thread, until it has brought the
// last write (or the host ends it).
class StreamReader {
  public:
    StreamReader(int port, const std::string& token)
        : client_("127.0.0.1", port), thread_([this, token] {
              client_.set_bearer_token_auth(token);
              client_.Get("/api/stream", [this](const char* data, std::size_t length) {
                  text_.append(data, length);
                  done_ = text_.find("\"text\":\"" + written(kWrites) + "\"") != std::string::npos;
                  return !done_;
              });
              done_ = true;
          }) {}
    ~StreamReader() { finish(); }

    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    bool done() const { return done_; }
    // Waits for the thread, which ends once the stream has.
    void finish() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // The events as {type, data}, after finish().
    std::vector<std::pair<std::string, json>> events() const {
        std::vector<std::pair<std::string, json>> found;
        for (std::size_t at = 0; (at = text_.find("event: ", at)) != std::string::npos;) {
            const std::size_t type = at + 7;
            const std::size_t data = text_.find("\ndata: ", type);
            const std::size_t end = text_.find('\n', data + 1);
            if (data == std::string::npos || end == std::string::npos) {
                break;
            }
            found.emplace_back(text_.substr(type, data - type),
                               json::parse(text_.substr(data + 7, end - data - 7)));
            at = end;
        }
        return found;
    }

  private:
    httplib::Client client_;
    std::string text_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The round of a text written(round).
int roundOf(const std::string& text) {
    return text.rfind("W ", 0) == 0 ? std::stoi(text.substr(2)) : -1;
}

}  // namespace

// Streams opened while a name changes many times a second: each one's
// first message holds the session, the panels and the name as it was at
// one write, and the changes after it bring every later write, in order,
// none missing. A change broadcast before a stream joined is in its first
// message; one after it follows it (a write may come twice: harmless, its
// value is absolute).
TEST(StreamStart, TheFirstMessageAndTheChangesAfterItMissNoWrite) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    ASSERT_EQ(host.send("PUT", kCaption, json{{"text", written(0)}}.dump()).first, 200);
    std::thread writer([&host] {
        for (int round = 1; round <= kWrites; ++round) {
            host.send("PUT", kCaption, json{{"text", written(round)}}.dump());
        }
    });
    std::vector<std::unique_ptr<StreamReader>> readers;
    for (int i = 0; i < kStreams; ++i) {
        readers.push_back(std::make_unique<StreamReader>(host.port(), host.token()));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    writer.join();
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (const auto& reader : readers) {
        while (!reader->done() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Ends the streams that never brought the last write, so their threads end.
    host.host().shutdown();
    int startedBefore = 0;
    for (std::size_t i = 0; i < readers.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        readers[i]->finish();
        const auto events = readers[i]->events();
        ASSERT_FALSE(events.empty());
        ASSERT_EQ(events.front().first, "start");
        const json& start = events.front().second;
        EXPECT_EQ(start["session"]["user"], RunningHost::kTokenName);
        EXPECT_EQ(start["session"]["role"], "admin");
        EXPECT_EQ(start["panels"]["instances"].size(), 1U);
        EXPECT_FALSE(start["devices"]["devices"].empty());
        int round = -1;
        for (const json& set : start["names"]) {
            if (set["device"] == kRouter && set["database"] == kRouterNames) {
                round = roundOf(set["entries"][kRow - 1]["text"]);
            }
        }
        ASSERT_GE(round, 0) << start["names"].dump();
        startedBefore += round < kWrites ? 1 : 0;
        for (const auto& [type, change] : events) {
            if (type == "database" && change["device"] == kRouter &&
                change["database"] == kRouterNames && change["index"] == kRow) {
                const int next = roundOf(change["text"]);
                ASSERT_LE(next, round + 1)
                    << "writes " << round + 1 << " to " << next - 1 << " are missing";
                round = std::max(round, next);
            }
        }
        EXPECT_EQ(round, kWrites);
    }
    // The streams opened while the writes went on, not after them.
    EXPECT_GT(startedBefore, kStreams / 2);
}
