#include <gtest/gtest.h>

#include <condition_variable>
#include <optional>

#include "EngineThread.h"
#include "FakeScript.h"
#include "NameSeed.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

using namespace panelhost;

class EngineThreadTest : public ::testing::Test {
  protected:
    TempFolder folder_;
    DeviceCatalog catalog_ = DeviceCatalog::defaults();
    SqliteNameStore store_{folder_.path() / "names.db", NameSeed::forCatalog(catalog_)};
    EventLog log_{10000};
    ChangeFeed feed_;
    HostEngine engine_{catalog_, store_, log_, feed_,
                       [] { return std::chrono::steady_clock::now(); }};
};

TEST_F(EngineThreadTest, WorkRunsOnTheEngineThreadAndReturnsItsResult) {
    EngineThread thread(engine_);
    const auto caller = std::this_thread::get_id();
    const auto worker = thread.call([](HostEngine&) { return std::this_thread::get_id(); });
    EXPECT_NE(worker, caller);
    EXPECT_EQ(thread.call([](HostEngine&) { return std::this_thread::get_id(); }), worker);
    EXPECT_THROW(thread.call([](HostEngine&) -> int { throw std::invalid_argument("x"); }),
                 std::invalid_argument);
    thread.stop();
    EXPECT_THROW(thread.call([](HostEngine&) { return 1; }), std::runtime_error);
}

// Scripts are single-threaded: a tick must reach the script on the same
// thread as every call, never on a timer thread of its own.
TEST_F(EngineThreadTest, TimerTicksReachTheScriptOnTheEngineThread) {
    std::mutex mutex;
    std::condition_variable ticked;
    std::optional<std::thread::id> tickThread;
    EngineThread thread(engine_);
    thread.call([&](HostEngine& engine) {
        return engine.createInstance(
            [&](tovi_client_callback* host, const char*) {
                auto* script = new FakeScript(host, {"ET 1 10"});
                script->react = [&](FakeScript&, const FakeScript::Notice& notice) {
                    if (notice.type == 4) {
                        const std::lock_guard<std::mutex> lock(mutex);
                        tickThread = std::this_thread::get_id();
                        ticked.notify_all();
                    }
                };
                return script;
            },
            "");
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(30),
                                    [&] { return tickThread.has_value(); }));
    }
    EXPECT_EQ(tickThread, thread.call([](HostEngine& engine) {
        engine.destroyAll();
        return std::this_thread::get_id();
    }));
}

// A script whose ticks take longer than its timer's interval keeps its timer
// due all the time; calls from other threads must still get their turn.
TEST_F(EngineThreadTest, CallsRunWhileTicksTakeLongerThanTheirInterval) {
    std::mutex mutex;
    std::condition_variable ticked;
    int ticks = 0;
    EngineThread thread(engine_);
    thread.call([&](HostEngine& engine) {
        return engine.createInstance(
            [&](tovi_client_callback* host, const char*) {
                auto* script = new FakeScript(host, {"ET 1 10"});
                script->react = [&](FakeScript&, const FakeScript::Notice& notice) {
                    if (notice.type == 4) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(15));
                        const std::lock_guard<std::mutex> lock(mutex);
                        ++ticks;
                        ticked.notify_all();
                    }
                };
                return script;
            },
            "");
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(30), [&] { return ticks > 0; }));
    }
    for (int call = 0; call < 5; ++call) {
        EXPECT_EQ(thread.call([](HostEngine&) { return 7; }), 7);
    }
    thread.call([](HostEngine& engine) {
        engine.destroyAll();
        return 0;
    });
}
