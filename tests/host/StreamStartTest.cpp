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
// With `fromPage`, as the panels page does: the page first, whose state
// the stream is then asked to start from.
class StreamReader {
  public:
    StreamReader(int port, const std::string& token, bool fromPage)
        : client_("127.0.0.1", port), thread_([this, token, fromPage] {
              client_.set_bearer_token_auth(token);
              std::string stream = "/api/stream";
              if (fromPage) {
                  page_ = pageState(client_.Get("/"));
                  if (page_.is_object() && page_.contains("state")) {
                      stream += "?since=" + page_.at("state").get_ref<const std::string&>();
                  }
              }
              client_.Get(stream, [this](const char* data, std::size_t length) {
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

    // The state the page brought (null without `fromPage`), after finish().
    const json& page() const { return page_; }

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
    // The state in a page's data element; null when it has none.
    static json pageState(const httplib::Result& page) {
        const std::string open = "<script type=\"application/json\" id=\"start-state\">";
        const std::size_t start = page ? page->body.find(open) : std::string::npos;
        const std::size_t end = page ? page->body.find("</script>", start) : std::string::npos;
        if (start == std::string::npos || end == std::string::npos) {
            return nullptr;
        }
        return json::parse(page->body.substr(start + open.size(), end - start - open.size()));
    }

    httplib::Client client_;
    json page_;
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
// none missing. Half of them start as the panels page does, from the state
// in the page's answer: the stream confirms it only when nothing changed
// since, and then the page's state is where the changes follow on from. A change broadcast before a
// stream joined is in its first message; one after it follows it (a write may come twice: harmless,
// its value is absolute).
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
        readers.push_back(std::make_unique<StreamReader>(host.port(), host.token(), i % 2 == 1));
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
        json start = events.front().second;
        if (i % 2 == 1) {
            // A page's state is confirmed only while it is the host's.
            const json& page = readers[i]->page();
            ASSERT_TRUE(page.is_object());
            if (start.contains("same")) {
                EXPECT_EQ(start["same"], page["state"]);
                start = page;
            } else {
                EXPECT_NE(start["state"], page["state"]);
            }
        }
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

// The data of a stream's first message.
json firstMessage(RunningHost& host, const std::string& path) {
    httplib::Client client("127.0.0.1", host.port());
    client.set_bearer_token_auth(host.token());
    std::string text;
    client.Get(path, [&text](const char* data, std::size_t length) {
        text.append(data, length);
        return text.find("\n\n") == std::string::npos;
    });
    const std::size_t data = text.find("data: ");
    return data == std::string::npos
               ? json()
               : json::parse(text.substr(data + 6, text.find('\n', data) - data - 6));
}

// Without writes in between, the stream only confirms the page's state; a
// state that is no longer the host's gets the whole new one; a page asked
// for without a session holds no state.
TEST(StreamStart, AStreamConfirmsThePagesStateOnlyWhileItIsTheHosts) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    const auto page = [&host] {
        httplib::Client client("127.0.0.1", host.port());
        client.set_bearer_token_auth(host.token());
        const httplib::Result answer = client.Get("/");
        const std::string open = "<script type=\"application/json\" id=\"start-state\">";
        const std::size_t start = answer ? answer->body.find(open) : std::string::npos;
        EXPECT_NE(start, std::string::npos);
        const std::size_t end = answer->body.find("</script>", start);
        return json::parse(answer->body.substr(start + open.size(), end - start - open.size()));
    };
    const json held = page();
    EXPECT_EQ(held["session"]["user"], RunningHost::kTokenName);
    const std::string since = held.at("state").get_ref<const std::string&>();
    EXPECT_EQ(firstMessage(host, "/api/stream?since=" + since),
              (json{{"session", held["session"]}, {"same", since}}));

    ASSERT_EQ(host.send("PUT", kCaption, json{{"text", "Guest </script>"}}.dump()).first, 200);
    const json fresh = firstMessage(host, "/api/stream?since=" + since);
    EXPECT_FALSE(fresh.contains("same"));
    EXPECT_NE(fresh["state"], since);
    EXPECT_NE(fresh.dump().find("Guest </script>"), std::string::npos);
    EXPECT_EQ(page()["state"], fresh["state"]) << "the page holds the new state, '<' escaped";

    httplib::Client anonymous("127.0.0.1", host.port());
    const httplib::Result bare = anonymous.Get("/");
    ASSERT_TRUE(bare);
    EXPECT_NE(bare->body.find("<script type=\"application/json\" id=\"start-state\"></script>"),
              std::string::npos);
}
