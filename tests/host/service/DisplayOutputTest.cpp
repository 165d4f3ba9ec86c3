// The display output under a flood of changes and at its end: it never goes
// quiet unannounced, and stopping it never waits on the feed.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>

#include "ChangeFeed.h"
#include "DisplayOutput.h"
#include "EngineThread.h"
#include "EventLog.h"
#include "HostEngine.h"
#include "NameSeed.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"
#include "TslPacketReader.h"

namespace panelhost {
namespace {

// Bounds a wait that only a fault makes long, so that such a fault fails
// the test instead of hanging the suite; not a measure of speed.
constexpr std::chrono::seconds kHangGuard{60};
// More changes than the feed keeps for one subscriber, several times over.
constexpr int kFlood = 100000;

// What the displays received, and a way to hold the output inside a send,
// as a sender stuck on its link would.
class Displays {
  public:
    void send(const std::vector<std::uint8_t>& packet) {
        std::unique_lock<std::mutex> lock(mutex_);
        blocked_ = held_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        blocked_ = false;
        for (const tsl_test::ReadMessage& message : tsl_test::readPacket(packet).messages) {
            texts_[message.index] = message.text;
        }
        changed_.notify_all();
    }

    void hold() {
        const std::lock_guard<std::mutex> lock(mutex_);
        held_ = true;
    }
    void release() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            held_ = false;
        }
        changed_.notify_all();
    }
    bool waitUntilBlocked() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [this] { return blocked_; });
    }
    bool waitForText(std::uint16_t index, const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [&] {
            const auto found = texts_.find(index);
            return found != texts_.end() && found->second == text;
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool blocked_ = false;
    std::map<std::uint16_t, std::string> texts_;
};

class DisplaysTransport : public tsl::TslTransport {
  public:
    explicit DisplaysTransport(Displays& displays) : displays_(displays) {}
    void send(std::vector<std::uint8_t> packet) override { displays_.send(packet); }
    bool flush(std::chrono::milliseconds) override { return true; }
    tsl::TslTransportStatus status() const override { return {}; }

  private:
    Displays& displays_;
};

// The displays sit behind an in-memory transport; the target only names it.
constexpr std::uint16_t kUnusedPort = 9;

class DisplayOutputTest : public ::testing::Test {
  protected:
    std::unique_ptr<DisplayOutput> start() {
        std::vector<std::unique_ptr<tsl::TslTransport>> transports;
        transports.push_back(std::make_unique<DisplaysTransport>(displays_));
        tsl::TslOutputConfig config;
        config.targets.push_back(
            tsl::TslTarget::network(tsl::TslTarget::Protocol::Udp, "127.0.0.1", kUnusedPort));
        return std::make_unique<DisplayOutput>(config, std::move(transports), thread_, feed_, log_);
    }

    // Renames a source of the set the displays show.
    void rename(int source, const std::string& text) {
        ASSERT_TRUE(thread_
                        .call([&](HostEngine& engine) {
                            const UmdWall wall = UmdWall::read(engine.devices());
                            return engine.writeName("test", wall.sourceDevice,
                                                    UmdWall::sourceOf(wall.nameset).database,
                                                    source, text);
                        })
                        .ok());
    }

    bool logged(const std::string& kind, const std::string& part) const {
        for (const LogEntry& entry : log_.since(0, kLogged)) {
            if (entry.kind == kind && entry.text.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    static constexpr std::size_t kLogged = 1000;
    TempFolder folder_;
    DeviceCatalog catalog_ = DeviceCatalog::defaults();
    SqliteNameStore store_{folder_.path() / "names.db", NameSeed::forCatalog(catalog_)};
    EventLog log_{kLogged};
    ChangeFeed feed_;
    HostEngine engine_{catalog_, store_, log_, feed_,
                       [] { return std::chrono::steady_clock::now(); }};
    EngineThread thread_{engine_};
    Displays displays_;
};

TEST_F(DisplayOutputTest, AnOutputStuckInASendThroughAFloodOfChangesStillShowsTheNextName) {
    const std::unique_ptr<DisplayOutput> output = start();
    displays_.hold();
    rename(1, "Held in the send");
    ASSERT_TRUE(displays_.waitUntilBlocked());
    for (int i = 0; i < kFlood; ++i) {
        feed_.publish(ControlChanged{1, "flood", "Count", "text", std::to_string(i)});
    }
    rename(2, "After the flood");
    displays_.release();

    EXPECT_TRUE(displays_.waitForText(tsl::TslOutput::displayIndex(2, 0), "After the flood"));
    EXPECT_TRUE(logged("warning", "display output fell more than"));
    rename(3, "Followed again");
    EXPECT_TRUE(displays_.waitForText(tsl::TslOutput::displayIndex(3, 0), "Followed again"));
}

TEST_F(DisplayOutputTest, EndingASubscriptionOrTheOutputNeverWaitsForTheFeed) {
    const auto subscription = feed_.subscribe();
    // Bounded itself, so that a waiter nobody wakes still ends.
    auto waiter = std::async(std::launch::async, [&] {
        return subscription->wait(2 * kHangGuard).empty() && subscription->closed();
    });
    feed_.unsubscribe(subscription);
    EXPECT_EQ(waiter.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_TRUE(waiter.get());

    std::unique_ptr<DisplayOutput> output = start();
    auto stopped = std::async(std::launch::async, [&output] { output.reset(); });
    if (stopped.wait_for(kHangGuard) != std::future_status::ready) {
        // The output's thread still runs on this fixture and nothing can end
        // it: the test fails and its process goes with it.
        ADD_FAILURE() << "the display output did not stop";
        std::_Exit(EXIT_FAILURE);
    }
}

}  // namespace
}  // namespace panelhost
