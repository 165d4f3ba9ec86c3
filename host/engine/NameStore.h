#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "FileLock.h"
#include "LatencyHistogram.h"

struct sqlite3;

namespace panelhost {

// The data file cannot be used (not ours, corrupt, in use, unwritable);
// what() says which file and why.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

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
// slots, the history of every database write and a router's crosspoints, in one SQLite file whose
// name tables this object alone writes: it holds a lock file beside the data
// file (FILE-lock) while it lives, so a second panelhost or an import on the
// same file is refused. Other connections (the accounts of AccountStore,
// also from other processes) share the file through SQLite's own locking
// and never touch these tables. Writes may be grouped into batches that the
// history shows as one step. Every write is one transaction, committed
// (durably: WAL, synchronous FULL) before the call returns, so a caller may
// notify others as soon as it returns. Devices are keyed by instance name,
// so renumbering a device keeps its data. Not thread-safe: one thread uses it.
class NameStore {
  public:
    // Marks a SQLite file as a panelhost data file ("TOVH").
    static constexpr std::int32_t kApplicationId = 0x544F5648;

    // Opens `file`, or creates it with `seed` when it does not exist or is
    // empty. Throws StoreError for a file that is not a panelhost data file,
    // is corrupt, cannot be read whole, cannot be written or is held by
    // another process; such a file is left as it was.
    NameStore(const std::filesystem::path& file, const SeedData& seed);
    ~NameStore();

    NameStore(const NameStore&) = delete;
    NameStore& operator=(const NameStore&) = delete;

    // A stored name; nothing when the entry was never written.
    std::optional<std::string> name(const std::string& device, int database, int index) const;
    // A stored slot; the empty text when the slot was never written.
    std::string slot(const std::string& device, int index) const;

    // Writes one name and its history entry; returns the previous text.
    // Throws StoreError (nothing changed) when the write cannot be committed.
    std::string writeName(const NameWrite& write);
    // Writes several names and their history in one transaction.
    void writeNames(const std::vector<NameWrite>& writes);
    // Writes several names in one transaction, their history entries
    // recorded as the one batch `batch` (its id and time are assigned
    // here); returns the batch as recorded. Throws StoreError (nothing
    // changed).
    NameBatch writeBatch(const NameBatch& batch, const std::vector<NameWrite>& writes);
    // Writes one slot. Throws StoreError (nothing changed).
    void writeSlot(const std::string& device, int index, const std::string& text);

    // A router device's crosspoints as last known: destination -> source,
    // both counted from 1, source 0 for a destination routed to nothing.
    std::map<int, int> crosspoints(const std::string& device) const;
    // Records the sources of the given destinations in one transaction.
    // Throws StoreError (nothing changed).
    void writeCrosspoints(const std::string& device, const std::map<int, int>& changes);

    // Throws StoreError when the entries cannot all be read.
    std::vector<HistoryEntry> history(const HistoryQuery& query) const;
    // One history entry by id; nothing when there is none.
    std::optional<HistoryEntry> historyEntry(long long id) const;
    // The id of the newest history entry of a name; 0 when it has none.
    long long newestEntry(const std::string& device, int database, int index) const;
    // A batch by id, and its entries in the order they were written.
    std::optional<NameBatch> batch(long long id) const;
    std::vector<HistoryEntry> batchEntries(long long id) const;

    const std::filesystem::path& file() const { return file_; }
    // Every writeName, writeNames and writeSlot since the store was opened.
    const StoreWriteStats& writeStats() const { return writeStats_; }

  private:
    using NameKey = std::tuple<std::string, int, int>;
    using SlotKey = std::pair<std::string, int>;

    void checkExisting();
    void create(const SeedData& seed);
    void addBatches();
    void writeAll(const std::vector<NameWrite>& writes, long long batch);
    std::vector<HistoryEntry> readEntries(const char* where, long long value, int limit) const;
    void load();
    void execute(const char* sql);
    [[noreturn]] void fail(const std::string& what) const;
    void insertHistory(const NameWrite& write, const std::string& oldText, const std::string& time,
                       long long batch);
    void commitNames(const std::vector<NameWrite>& writes);
    template <typename Write>
    void timed(Write&& write);

    std::filesystem::path file_;
    FileLock lock_;
    sqlite3* db_ = nullptr;
    std::map<NameKey, std::string> names_;
    std::map<SlotKey, std::string> slots_;
    std::map<std::string, std::map<int, int>> crosspoints_;
    StoreWriteStats writeStats_;
};

}  // namespace panelhost
