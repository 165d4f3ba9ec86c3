#include "IdentityTable.h"

#include <utility>

namespace panelhost {
namespace {

long long secondsOf(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

// Publishes the entries of `table` as no longer current: the store could
// not be read. The caller holds the lock of the readings.
template <typename Table>
void publishStale(Published<Table>& table) {
    const std::shared_ptr<const Table> before = table.current();
    if (before && before->current) {
        table.publish(std::make_shared<const Table>(Table{before->entries, before->read, false}));
    }
}

// What the store answers by `check`. A store that fails a check is away:
// the table stops answering as current at once rather than at its next
// reading.
template <typename Table, typename Check>
std::optional<Identity> fromStore(Published<Table>& table, std::mutex& readings, Check&& check) {
    try {
        std::optional<Identity> identity = check();
        if (identity && identity->remembered) {
            const std::lock_guard<std::mutex> lock(readings);
            publishStale(table);
        }
        return identity;
    } catch (const StoreError&) {
        const std::lock_guard<std::mutex> lock(readings);
        publishStale(table);
        throw;
    }
}

}  // namespace

IdentityTable::IdentityTable(AccountStore& accounts, Clock clock)
    : accounts_(accounts), clock_(std::move(clock)) {
    reload();
    thread_ = std::thread([this] { run(); });
}

IdentityTable::~IdentityTable() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void IdentityTable::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        const std::chrono::milliseconds interval = following_ ? kSafetyNet : kRecheck;
        // A change of following_ wakes the wait, which then starts anew with
        // the other interval.
        const bool followingBefore = following_;
        wake_.wait_for(lock, interval,
                       [&] { return stopping_ || noticed_ || following_ != followingBefore; });
        if (stopping_) {
            return;
        }
        if (following_ != followingBefore && !noticed_) {
            continue;
        }
        noticed_ = false;
        lock.unlock();
        reload();
        lock.lock();
    }
}

void IdentityTable::noticesFollowed() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        following_ = true;
        noticed_ = true;
    }
    wake_.notify_all();
}

void IdentityTable::noticesLost() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        following_ = false;
    }
    wake_.notify_all();
}

void IdentityTable::accountsChanged() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        noticed_ = true;
    }
    wake_.notify_all();
}

void IdentityTable::reload() {
    const std::lock_guard<std::mutex> lock(reloadMutex_);
    const auto now = clock_();
    const std::shared_ptr<const Table> before = table_.current();
    std::vector<KeptIdentity> kept;
    try {
        kept = accounts_.identities();
    } catch (const StoreError&) {
        // The entries read before stay, no longer current: the outage rule
        // decides which are still answered.
        publishStale(table_);
        return;
    }
    auto entries = std::make_shared<std::map<std::vector<unsigned char>, Entry>>();
    for (KeptIdentity& identity : kept) {
        Entry& entry = (*entries)[identity.hash];
        entry.identity = std::move(identity.identity);
        entry.lastUsed = identity.lastUsed;
        if (before) {
            const auto known = before->entries->find(identity.hash);
            if (known != before->entries->end()) {
                entry.acceptedAt = known->second.acceptedAt.load(std::memory_order_relaxed);
            }
        }
    }
    table_.publish(std::make_shared<const Table>(Table{std::move(entries), now, true}));
}

std::optional<Identity> IdentityTable::lookUp(const std::string& secret, bool token) const {
    const std::shared_ptr<const Table> table = table_.current();
    if (!table) {
        return std::nullopt;
    }
    const auto found = table->entries->find(AccountStore::keptHash(secret));
    if (found == table->entries->end() || found->second.identity.token != token) {
        return std::nullopt;
    }
    const Entry& entry = found->second;
    const auto now = clock_();
    const long long nowSeconds = secondsOf(now);
    if (!table->current) {
        // Only what this host let in shortly before the store went away.
        const long long accepted = entry.acceptedAt.load(std::memory_order_relaxed);
        if (accepted == 0 || nowSeconds < accepted ||
            nowSeconds - accepted > AccountStore::kIdentityGrace.count()) {
            return std::nullopt;
        }
    }
    const long long unused = nowSeconds - entry.lastUsed;
    // A token or session whose use is due to be written down is the store's
    // to mark, unless the store cannot be written now; a session past its
    // idle time is the store's to end.
    if (table->current && unused >= kTouchAfter.count()) {
        return std::nullopt;
    }
    if (!token && (unused < 0 || unused > accounts_.sessionIdle().count())) {
        return std::nullopt;
    }
    if (table->current) {
        const long long read = secondsOf(table->read);
        // Written only when it moves: the entry is shared by every thread.
        if (entry.acceptedAt.load(std::memory_order_relaxed) != read) {
            entry.acceptedAt.store(read, std::memory_order_relaxed);
        }
    }
    Identity identity = entry.identity;
    identity.remembered = !table->current;
    return identity;
}

std::optional<Identity> IdentityTable::verifyToken(const std::string& token) {
    if (std::optional<Identity> identity = lookUp(token, true)) {
        return identity;
    }
    return fromStore(table_, reloadMutex_, [&] { return accounts_.verifyToken(token); });
}

std::optional<Identity> IdentityTable::session(const std::string& id) {
    if (std::optional<Identity> identity = lookUp(id, false)) {
        return identity;
    }
    return fromStore(table_, reloadMutex_, [&] { return accounts_.session(id); });
}

}  // namespace panelhost
