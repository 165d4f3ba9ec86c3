#include "StoreListener.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "PostgresConnection.h"
#include "StoreChannels.h"

namespace panelhost {
namespace {

std::string lostBecause(const PostgresConnection& db) {
    const std::string reason = db.reason();
    return reason.empty() ? "the server closed it" : reason;
}

}  // namespace

StoreListener::StoreListener(std::string url, EngineThread& engine, StoreHealth& health,
                             EventLog& log, AccountWatch* accounts)
    : url_(std::move(url)),
      engine_(engine),
      health_(health),
      log_(log),
      accounts_(accounts),
      pending_(std::make_shared<std::atomic<bool>>(false)),
      thread_([this] { run(); }) {}

StoreListener::~StoreListener() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StoreListener::requestCatchUp() {
    if (pending_->exchange(true)) {
        return;
    }
    engine_.submit([pending = pending_](HostEngine& engine) {
        pending->store(false);
        engine.catchUp();
    });
}

bool StoreListener::pause(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, delay, [this] { return stopping_.load(); });
}

void StoreListener::run() {
    std::chrono::milliseconds backOff = kFirstBackOff;
    bool connectedBefore = false;
    while (!stopping_) {
        std::unique_ptr<PostgresConnection> db;
        try {
            db = std::make_unique<PostgresConnection>(
                url_, PostgresConnection::Settings{},
                PostgresConnection::Settings{{"target_session_attrs", "read-write"}});
            for (const char* channel : {StoreChannels::kNames, StoreChannels::kAccounts}) {
                db->run("cannot listen for other hosts' writes",
                        (std::string("LISTEN ") + channel).c_str());
            }
        } catch (const StoreError& error) {
            health_.lost(std::string("cannot listen for other hosts' writes: ") + error.what());
            if (!pause(backOff)) {
                return;
            }
            backOff = std::min(backOff * 2, kLongestBackOff);
            continue;
        }
        if (!connectedBefore) {
            log_.add(0, "info", "listening for other hosts' writes on " + db->location());
        }
        health_.connected(db->location(), db->server());
        connectedBefore = true;
        backOff = kFirstBackOff;
        requestCatchUp();
        if (accounts_ != nullptr) {
            accounts_->noticesFollowed();
        }
        const std::string lost = listen(*db);
        if (accounts_ != nullptr) {
            accounts_->noticesLost();
        }
        if (lost.empty()) {
            return;
        }
        health_.lost(db->location() + ": the connection for other hosts' writes is lost (" + lost +
                     ")");
    }
}

std::string StoreListener::listen(PostgresConnection& db) {
    pg_conn* native = db.native();
    auto lastCatchUp = std::chrono::steady_clock::now();
    while (!stopping_) {
        pollfd socket{PQsocket(native), POLLIN, 0};
        const int ready = ::poll(&socket, 1, static_cast<int>(kPollInterval.count()));
        if (ready < 0 && errno != EINTR) {
            return std::string("cannot wait on the connection: ") + std::strerror(errno);
        }
        if (ready > 0) {
            if (PQconsumeInput(native) == 0) {
                return lostBecause(db);
            }
            bool noticed = false;
            bool accountsNoticed = false;
            while (PGnotify* notice = PQnotifies(native)) {
                if (std::strcmp(notice->relname, StoreChannels::kAccounts) == 0) {
                    accountsNoticed = true;
                } else {
                    noticed = true;
                }
                PQfreemem(notice);
            }
            if (accountsNoticed && accounts_ != nullptr) {
                accounts_->accountsChanged();
            }
            if (noticed) {
                requestCatchUp();
                lastCatchUp = std::chrono::steady_clock::now();
            }
        }
        if (!db.connected()) {
            return lostBecause(db);
        }
        if (std::chrono::steady_clock::now() - lastCatchUp >= kSafetyNet) {
            requestCatchUp();
            lastCatchUp = std::chrono::steady_clock::now();
        }
    }
    return "";
}

}  // namespace panelhost
