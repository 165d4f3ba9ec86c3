#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "NameStore.h"
#include "PostgresConnection.h"

namespace panelhost {

// The names in a PostgreSQL database, in a schema "panelhost" of their own
// that this object creates (and seeds) when the database has none. It keeps
// one connection; a write that finds the connection lost tries once to
// connect again and throws StoreUnavailable when that fails, so a database
// that comes back is used again without a restart. Several hosts may share
// the database: every write also records its entries in the table
// "changes", numbered in commit order, and announces the newest number on
// the channel "panelhost_changes" when it commits; catchUp() reads what
// others wrote since, or every table again when rows it needs were pruned
// or the connection was lost. Every command waits at most
// kStatementTimeoutMs; a write the server did not confirm in that time
// throws StoreUnavailable saying its outcome is unknown, and the next
// catchUp() reads every table again, so a write that did commit is then
// taken as written. Not thread-safe: one thread uses it.
class PostgresNameStore : public NameStore {
  public:
    // How long one command may take before it is cancelled
    // (PostgresConnection::limitEachCommand), a COMMIT waiting for a
    // synchronous standby included. The engine thread waits for every
    // write, and everything queued behind it with it: a server that stops
    // confirming commits (its standby lost) holds it this long per write,
    // not until the database's own monitor lets the primary commit alone.
    // Commands take milliseconds; this leaves room for a slow disk.
    static constexpr int kStatementTimeoutMs = 2000;

    // Connects with `url` (postgresql://…) and opens the schema, or creates
    // it with `seed` when the database has none. Throws StoreError when the
    // server cannot be reached or refuses, or when the schema is not one
    // this panelhost can read; nothing is changed then.
    PostgresNameStore(const std::string& url, const SeedData& seed);

    NameBatch writeBatch(const NameBatch& batch, const std::vector<NameWrite>& writes) override;
    std::vector<HistoryEntry> history(const HistoryQuery& query) const override;
    std::optional<HistoryEntry> historyEntry(long long id) const override;
    long long newestEntry(const std::string& device, int database, int index) const override;
    std::optional<NameBatch> batch(long long id) const override;
    std::vector<HistoryEntry> batchEntries(long long id) const override;
    std::string location() const override { return db_.location(); }
    std::vector<StoreChange> catchUp() override;

  private:
    using Result = PostgresConnection::Result;

    void commitNames(const std::vector<NameWrite>& writes) override;
    void commitSlot(const std::string& device, int index, const std::string& text,
                    const std::string& who) override;
    void commitCrosspoints(const std::string& device, const std::map<int, int>& changes) override;

    // Everything the tables hold, and the newest change number before it
    // was read.
    struct Snapshot {
        std::map<NameKey, std::string> names;
        std::map<SlotKey, std::string> slots;
        std::map<std::string, std::map<int, int>> crosspoints;
        long long lastSeen = 0;
    };

    void create(const SeedData& seed);
    Snapshot read() const;
    // Within a write transaction: waits for the other writers' commits.
    void lockWrites();
    // Within a write transaction: records one changed entry; returns its
    // number.
    long long recordChange(const char* kind, const std::string& device, int database, int index,
                           const std::string& text, int source, const std::string& who);
    // Within a write transaction, last: announces `seq` on commit and
    // prunes the changes kept beyond the newest.
    void announce(long long seq);
    // Takes `change` into memory unless memory has it already; fills in
    // what it replaces. False: nothing to take.
    bool take(StoreChange& change);
    // Takes every entry of `snapshot` that differs from memory; returns
    // those.
    std::vector<StoreChange> takeAll(const Snapshot& snapshot);
    void insertHistory(const NameWrite& write, const std::string& oldText, const std::string& time,
                       long long batch);
    std::vector<HistoryEntry> entries(const Result& rows) const;

    PostgresConnection db_;
    // The newest change this store has taken into memory.
    long long lastSeen_ = 0;
    // The connection (PostgresConnection::connections()) memory was last
    // made complete on; another one means a re-read.
    int readOnConnection_ = 0;
    // The count of unconfirmed commits (PostgresConnection) memory was last
    // made complete after; another one means a re-read.
    int readAfterUnconfirmed_ = 0;
};

}  // namespace panelhost
