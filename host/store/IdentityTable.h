#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AccountStore.h"
#include "AccountWatch.h"
#include "Identity.h"
#include "Published.h"

namespace panelhost {

// Every API token and session of an account store, held in memory so that
// a request's token or session is checked without a lock or a database
// query. The table is read whole from the store when it is made, again
// whenever reload() is called (this host changed the accounts), and on a
// thread of its own: every kRecheck (another host or a command-line tool
// changed them), or, while a shared store's notices are followed
// (AccountWatch), at once on every notice and every kSafetyNet besides. A
// token revoked, an account removed, a password changed or a session ended
// anywhere is refused here within kRecheck, or the time a notice takes,
// and the time one read takes.
//
// What the table does not know, it leaves to the store: a token or session
// it has no entry for (made elsewhere since the last read, or unknown), a
// session whose idle time may have run out, and a token or session whose last use
// is due to be written down (the store marks it). The outage
// rule of the store holds unchanged: while the store cannot be read, a
// token or session that this host accepted for a request within
// AccountStore::kIdentityGrace before, by a reading of the store, is
// answered as remembered; any other check goes to the store, which
// remembers what it checked itself or throws StoreError.
//
// verifyToken(), session(), reload() and the AccountWatch calls may be
// made from any thread at once. The store must outlive the table.
class IdentityTable : public AccountWatch {
  public:
    using Clock = AccountStore::Clock;

    // How often the table is read again from the store: half the second
    // within which a change made elsewhere must be refused, so that one
    // slow read still keeps it.
    static constexpr std::chrono::milliseconds kRecheck{500};
    // How often the table is read while notices are followed: only in case
    // one was lost on the way, as the names' catch-up does.
    static constexpr std::chrono::seconds kSafetyNet{5};
    // A token's or session's last use is written to the store this long after the
    // table last saw it written, as AccountStore does for its own checks.
    static constexpr std::chrono::seconds kTouchAfter{60};

    // Reads the table (a store that cannot be read now leaves it to the
    // store until it can) and starts re-reading it.
    explicit IdentityTable(
        AccountStore& accounts, Clock clock = [] { return std::chrono::system_clock::now(); });
    // Stops the thread at once.
    ~IdentityTable() override;

    IdentityTable(const IdentityTable&) = delete;
    IdentityTable& operator=(const IdentityTable&) = delete;

    // As AccountStore::verifyToken and AccountStore::session.
    std::optional<Identity> verifyToken(const std::string& token);
    std::optional<Identity> session(const std::string& id);

    // The identity of a token (`token`) or session known in memory now;
    // nothing when only the store can tell (verifyToken() or session()
    // then). Never waits on the store.
    std::optional<Identity> fromMemory(const std::string& secret, bool token) const {
        return lookUp(secret, token);
    }

    // Reads the table from the store now; a store that cannot be read
    // keeps the entries read before, answered as remembered.
    void reload();

    // Wake the table's thread, which reads the store; they never wait.
    void noticesFollowed() override;
    void noticesLost() override;
    void accountsChanged() override;

  private:
    struct Entry {
        Identity identity;
        long long lastUsed = 0;
        // When the reading that last let a request in by this entry was
        // made (seconds since the epoch; 0: never). Carried over to the
        // next reading's entry of the same hash.
        mutable std::atomic<long long> acceptedAt{0};
    };
    struct Table {
        std::shared_ptr<const std::map<std::vector<unsigned char>, Entry>> entries;
        // When the entries were read.
        std::chrono::system_clock::time_point read;
        // False once a later read failed.
        bool current = true;
    };

    // The identity of `secret` (a token when `token`) as it may be answered
    // now; nothing when the store must decide.
    std::optional<Identity> lookUp(const std::string& secret, bool token) const;
    void run();

    AccountStore& accounts_;
    Clock clock_;
    Published<Table> table_;
    // One read of the store at a time.
    std::mutex reloadMutex_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    // A notice asked for a reading that has not begun yet.
    bool noticed_ = false;
    bool following_ = false;
    std::thread thread_;
};

}  // namespace panelhost
