#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "FileLock.h"
#include "NameStore.h"
#include "SqliteConnection.h"

namespace panelhost {

// The names in one SQLite file whose name tables this object alone writes:
// it holds a lock file beside the data file (FILE-lock) while it lives, so a
// second panelhost or an import on the same file is refused. Other
// connections (the accounts of AccountStore, also from other processes)
// share the file through SQLite's own locking and never touch these tables.
// Commits are durable (WAL, synchronous FULL). Not thread-safe: one thread
// uses it.
class SqliteNameStore : public NameStore {
  public:
    // Opens `file`, or creates it with `seed` when it does not exist or is
    // empty. Throws StoreError for a file that is not a panelhost data file,
    // is corrupt, cannot be read whole, cannot be written or is held by
    // another process; such a file is left as it was.
    SqliteNameStore(const std::filesystem::path& file, const SeedData& seed);

    NameBatch writeBatch(const NameBatch& batch, const std::vector<NameWrite>& writes) override;
    std::vector<HistoryEntry> history(const HistoryQuery& query) const override;
    std::optional<HistoryEntry> historyEntry(long long id) const override;
    long long newestEntry(const std::string& device, int database, int index) const override;
    std::optional<NameBatch> batch(long long id) const override;
    std::vector<HistoryEntry> batchEntries(long long id) const override;
    std::string location() const override { return db_.file().string(); }

    const std::filesystem::path& file() const { return db_.file(); }

  private:
    void commitNames(const std::vector<NameWrite>& writes) override;
    void commitSlot(const std::string& device, int index, const std::string& text,
                    const std::string& who) override;
    void commitCrosspoints(const std::string& device, const std::map<int, int>& changes) override;

    void checkExisting();
    void create(const SeedData& seed);
    void addBatches();
    void writeAll(const std::vector<NameWrite>& writes, long long batch);
    std::vector<HistoryEntry> readEntries(const char* where, long long value, int limit) const;
    void load();
    void insertHistory(const NameWrite& write, const std::string& oldText, const std::string& time,
                       long long batch);

    FileLock lock_;
    // The file was missing or empty when opened, so it is made here.
    bool fresh_;
    SqliteConnection db_;
};

}  // namespace panelhost
