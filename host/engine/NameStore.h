#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "LatencyHistogram.h"
#include "StoreError.h"

namespace panelhost {

// One database entry to write, with who writes it for the history.
struct NameWrite {
    std::string device;
    int deviceNumber = 0;
    int database = 0;
    int index = 0;
    std::string text;
    std::string who;
    // The history entry whose earlier text this write puts back; 0: none.
    long long restores = 0;
};

// Several writes recorded together as one step of the history (an import,
// a copy, or the undoing of one of them), so that they can be shown and
// undone as one.
struct NameBatch {
    long long id = 0;
    std::string time;  // UTC, ISO 8601 with milliseconds
    std::string who;
    std::string kind;  // "import", "copy" or "undo"
    // What the batch did, in words ("news.csv into set 3").
    std::string what;
    // The batch this one undid; 0: none.
    long long undoes = 0;
};

// One recorded database write.
struct HistoryEntry {
    long long id = 0;
    std::string time;  // UTC, ISO 8601 with milliseconds
    std::string who;
    std::string device;
    int deviceNumber = 0;
    int database = 0;
    int index = 0;
    std::string oldText;
    std::string newText;
    // The batch the write belongs to (0: written alone), with its kind,
    // description and number of writes, and the entry it restored (0: none).
    long long batch = 0;
    std::string batchKind;
    std::string batchWhat;
    int batchSize = 0;
    long long restores = 0;
};

// The writes a store committed or failed, and how long each took.
struct StoreWriteStats {
    std::uint64_t committed = 0;
    std::uint64_t failed = 0;
    LatencyHistogram latency;
};

// Which history entries to read: newest first, at most `limit`, only those
// older than `before` when it is not 0, narrowed by the optional fields.
struct HistoryQuery {
    std::optional<std::string> device;
    std::optional<int> database;
    std::optional<int> index;
    long long before = 0;
    int limit = 100;
};

// An entry that another writer of the same database changed, as a catch-up
// found it: the text (or source) it has now and the one this store knew.
struct StoreChange {
    enum class Kind { Name, Slot, Crosspoint };

    Kind kind = Kind::Name;
    std::string device;
    // Names: database and entry; slots: the slot in `index`; crosspoints:
    // the destination in `index`, the sources in `source` and `oldSource`.
    int database = 0;
    int index = 0;
    std::string text;
    std::string oldText;
    int source = 0;
    int oldSource = 0;
    // Who wrote it, as the writing host recorded it.
    std::string who;
};

// What a new data file starts with.
struct SeedData {
    struct Name {
        std::string device;
        int database;
        int index;
        std::string text;
    };
    struct Slot {
        std::string device;
        int index;
        std::string text;
    };
    std::vector<Name> names;
    std::vector<Slot> slots;
};

// The persistent state of the simulated devices: database names, infodriver
// slots, the history of every database write (with its batches and
// restores) and a router's crosspoints. Two implementations keep it:
// SqliteNameStore (one file, the default) and PostgresNameStore (a database
// server). Every write is one transaction, committed before the call
// returns, so a caller may notify others as soon as it returns; a write that
// cannot be committed throws StoreError and changes nothing. Names, slots
// and crosspoints are read from memory, kept here as last committed.
// Devices are keyed by instance name, so renumbering a device keeps its
// data. Not thread-safe: one thread uses it.
class NameStore {
  public:
    virtual ~NameStore() = default;

    NameStore(const NameStore&) = delete;
    NameStore& operator=(const NameStore&) = delete;

    // A stored name; nothing when the entry was never written.
    std::optional<std::string> name(const std::string& device, int database, int index) const;
    // A stored slot; the empty text when the slot was never written.
    std::string slot(const std::string& device, int index) const;
    // Every stored name of one database (index -> text) and every slot of
    // one device that holds a text (index -> text), read in one pass.
    std::map<int, std::string> names(const std::string& device, int database) const;
    std::map<int, std::string> writtenSlots(const std::string& device) const;
    // A router device's crosspoints as last known: destination -> source,
    // both counted from 1, source 0 for a destination routed to nothing.
    std::map<int, int> crosspoints(const std::string& device) const;
    // A number that moves whenever a name of one database, or a slot of one
    // device, changes in memory, by any writer: a copy made of them needs
    // making anew only when it moved since.
    long long namesRevision(const std::string& device, int database) const;
    long long slotsRevision(const std::string& device) const;

    // Writes one name and its history entry; returns the previous text.
    // Throws StoreError (nothing changed) when the write cannot be committed.
    std::string writeName(const NameWrite& write);
    // Writes several names and their history in one transaction.
    void writeNames(const std::vector<NameWrite>& writes);
    // Writes several names in one transaction, their history entries
    // recorded as the one batch `batch` (its id and time are assigned
    // here); returns the batch as recorded. Throws StoreError (nothing
    // changed).
    virtual NameBatch writeBatch(const NameBatch& batch, const std::vector<NameWrite>& writes) = 0;
    // Writes one slot, written by `who` (for other hosts' event streams).
    // Throws StoreError (nothing changed).
    void writeSlot(const std::string& device, int index, const std::string& text,
                   const std::string& who);
    // Records the sources of the given destinations in one transaction.
    // Throws StoreError (nothing changed).
    void writeCrosspoints(const std::string& device, const std::map<int, int>& changes);

    // Takes into memory what other writers of the same database committed
    // since the last catch-up and returns each entry that differs from what
    // was known, in commit order; this store's own writes are already known
    // and so not returned. Throws StoreError (StoreUnavailable while the
    // server is away) with memory unchanged. A store that has no other
    // writers (a data file) returns nothing.
    virtual std::vector<StoreChange> catchUp() { return {}; }

    // Throws StoreError when the entries cannot all be read.
    virtual std::vector<HistoryEntry> history(const HistoryQuery& query) const = 0;
    // One history entry by id; nothing when there is none.
    virtual std::optional<HistoryEntry> historyEntry(long long id) const = 0;
    // The id of the newest history entry of a name; 0 when it has none.
    virtual long long newestEntry(const std::string& device, int database, int index) const = 0;
    // A batch by id, and its entries in the order they were written.
    virtual std::optional<NameBatch> batch(long long id) const = 0;
    virtual std::vector<HistoryEntry> batchEntries(long long id) const = 0;

    // Where the data is kept, for the log (a file, or a server and database;
    // never a password).
    virtual std::string location() const = 0;
    // Every writeName, writeNames and writeSlot since the store was opened.
    const StoreWriteStats& writeStats() const { return writeStats_; }

  protected:
    using NameKey = std::tuple<std::string, int, int>;
    using SlotKey = std::pair<std::string, int>;

    NameStore() = default;

    // Commit in one transaction, or throw StoreError having changed nothing;
    // the caches are updated here afterwards.
    virtual void commitNames(const std::vector<NameWrite>& writes) = 0;
    virtual void commitSlot(const std::string& device, int index, const std::string& text,
                            const std::string& who) = 0;
    virtual void commitCrosspoints(const std::string& device,
                                   const std::map<int, int>& changes) = 0;

    // The text each write replaces, in order: the text written by an earlier
    // write of the same name in `writes`, or the stored one.
    std::vector<std::string> oldTexts(const std::vector<NameWrite>& writes) const;
    // Takes committed writes into the cache.
    void remember(const std::vector<NameWrite>& writes);
    // Takes one entry into the cache, counting its revision.
    void remember(const std::string& device, int database, int index, const std::string& text);
    void rememberSlot(const std::string& device, int index, const std::string& text);
    void rememberCrosspoint(const std::string& device, int destination, int source);
    // Replaces the whole cache; every revision moves.
    void rememberAll(std::map<NameKey, std::string> names, std::map<SlotKey, std::string> slots,
                     std::map<std::string, std::map<int, int>> crosspoints);

    // Counts `write` in the statistics, committed or failed (rethrown).
    template <typename Write>
    void timed(Write&& write);

  private:
    // The cache, changed only through remember*(), which count revisions.
    std::map<NameKey, std::string> names_;
    std::map<SlotKey, std::string> slots_;
    std::map<std::string, std::map<int, int>> crosspoints_;
    // The revision of each database and each device's slots: the value of
    // changes_ when it last changed; everything is at least at wholesale_,
    // when the whole cache was last replaced.
    long long changes_ = 0;
    long long wholesale_ = 0;
    std::map<std::pair<std::string, int>, long long> nameRevisions_;
    std::map<std::string, long long> slotRevisions_;
    StoreWriteStats writeStats_;
};

template <typename Write>
void NameStore::timed(Write&& write) {
    const auto started = std::chrono::steady_clock::now();
    try {
        write();
    } catch (...) {
        ++writeStats_.failed;
        writeStats_.latency.record(std::chrono::steady_clock::now() - started);
        throw;
    }
    ++writeStats_.committed;
    writeStats_.latency.record(std::chrono::steady_clock::now() - started);
}

}  // namespace panelhost
