#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "AccountWatch.h"
#include "EngineThread.h"
#include "EventLog.h"
#include "StoreHealth.h"

namespace panelhost {

class PostgresConnection;

// Keeps this host in step with the other hosts on a shared PostgreSQL
// store. On a thread of its own it holds a connection of its own that
// listens on StoreChannels::kNames, where each write of names announces
// its commit; on every notice, whenever it
// has connected (again), and every kSafetyNet while connected, it hands the
// engine a catch-up (HostEngine::catchUp) through EngineThread::submit and
// never waits for it, at most one waiting at a time. It also listens on
// StoreChannels::kAccounts, which every change of an account, a token or a
// session announces, and tells the AccountWatch (if any) of each notice,
// and when it starts and stops following them. It connects only to a
// server that accepts writes (target_session_attrs=read-write: of a URL
// listing a primary and its standby, the primary, which alone sends the
// notices). What it finds it reports to the StoreHealth, which logs the
// loss once; a lost connection is made again with growing back-off. The
// engine thread, the health, the log and the watch must outlive the
// listener; it is made and destroyed on one thread.
class StoreListener {
  public:
    // How long the thread waits on the socket before it looks whether it
    // should stop or catch up: bounds how long stopping takes.
    static constexpr std::chrono::milliseconds kPollInterval{200};
    // A catch-up this often even without notices, in case one was lost on
    // the way (the sequence numbers then tell what was missed).
    static constexpr std::chrono::seconds kSafetyNet{5};
    // Waits between attempts to connect again: doubling from the first to
    // the longest. The longest bounds how late the host catches up after a
    // failover of the database (other hosts' writes meanwhile, its own
    // writes whose outcome was unknown); one attempt a second costs a
    // server that is away nothing.
    static constexpr std::chrono::milliseconds kFirstBackOff{250};
    static constexpr std::chrono::milliseconds kLongestBackOff{1000};

    // Starts listening with `url` (as given to --store); `accounts` may be
    // null.
    StoreListener(std::string url, EngineThread& engine, StoreHealth& health, EventLog& log,
                  AccountWatch* accounts);
    // Stops the thread within about kPollInterval.
    ~StoreListener();

    StoreListener(const StoreListener&) = delete;
    StoreListener& operator=(const StoreListener&) = delete;

  private:
    void run();
    // Listens on `db` until it is lost (returns why) or the listener stops
    // (returns "").
    std::string listen(PostgresConnection& db);
    void requestCatchUp();
    // Waits `delay` or until stopped; false when stopped.
    bool pause(std::chrono::milliseconds delay);

    const std::string url_;
    EngineThread& engine_;
    StoreHealth& health_;
    EventLog& log_;
    AccountWatch* const accounts_;
    // Set while a catch-up is handed over and not yet begun; shared with
    // the task, which may run after the listener is gone.
    std::shared_ptr<std::atomic<bool>> pending_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace panelhost
