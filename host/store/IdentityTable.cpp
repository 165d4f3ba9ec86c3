#include "IdentityTable.h"

#include <utility>

namespace panelhost {
namespace {

long long secondsOf(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
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
    while (!wake_.wait_for(lock, kRecheck, [this] { return stopping_; })) {
        lock.unlock();
        reload();
        lock.lock();
    }
}

void IdentityTable::reload() {
    const std::lock_guard<std::mutex> lock(reloadMutex_);
    const auto now = clock_();
    std::vector<KeptIdentity> kept;
    try {
        kept = accounts_.identities();
    } catch (const StoreError&) {
        // The entries read before stay, no longer current: the outage rule
        // decides how long they are answered.
        if (const std::shared_ptr<const Table> before = table_.current();
            before && before->current) {
            table_.publish(
                std::make_shared<const Table>(Table{before->entries, before->read, false}));
        }
        return;
    }
    auto entries = std::make_shared<std::map<std::vector<unsigned char>, Entry>>();
    for (KeptIdentity& identity : kept) {
        (*entries)[std::move(identity.hash)] =
            Entry{std::move(identity.identity), identity.lastUsed};
    }
    table_.publish(std::make_shared<const Table>(Table{std::move(entries), now, true}));
}

std::optional<IdentityTable::Entry> IdentityTable::lookUp(const std::string& secret) const {
    const std::shared_ptr<const Table> table = table_.current();
    if (!table) {
        return std::nullopt;
    }
    const auto now = clock_();
    if (!table->current &&
        (now < table->read || now - table->read > AccountStore::kIdentityGrace)) {
        return std::nullopt;
    }
    const auto found = table->entries->find(AccountStore::keptHash(secret));
    if (found == table->entries->end()) {
        return std::nullopt;
    }
    Entry entry = found->second;
    entry.identity.remembered = !table->current;
    if (!entry.identity.token) {
        const long long unused = secondsOf(now) - entry.lastUsed;
        // A session past its idle time is the store's to end; one whose use
        // is due to be written down the store's to mark, unless the store
        // cannot be written now.
        if (unused < 0 || unused > accounts_.sessionIdle().count() ||
            (table->current && unused >= kTouchAfter.count())) {
            return std::nullopt;
        }
    }
    return entry;
}

std::optional<Identity> IdentityTable::verifyToken(const std::string& token) {
    if (std::optional<Entry> entry = lookUp(token); entry && entry->identity.token) {
        return entry->identity;
    }
    return accounts_.verifyToken(token);
}

std::optional<Identity> IdentityTable::session(const std::string& id) {
    if (std::optional<Entry> entry = lookUp(id); entry && !entry->identity.token) {
        return entry->identity;
    }
    return accounts_.session(id);
}

}  // namespace panelhost
