#pragma once

#include <optional>
#include <string>
#include <vector>

#include "NameStore.h"
#include "PostgresConnection.h"

namespace panelhost {

// The names in a PostgreSQL database, in a schema "panelhost" of their own
// that this object creates (and seeds) when the database has none. It keeps
// one connection; a write that finds the connection lost tries once to
// connect again and throws StoreError when that fails, so a database that
// comes back is used again without a restart. Other writers of the same
// schema are not noticed: one host at a time uses a database. Not
// thread-safe: one thread uses it.
class PostgresNameStore : public NameStore {
  public:
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

  private:
    using Result = PostgresConnection::Result;

    void commitNames(const std::vector<NameWrite>& writes) override;
    void commitSlot(const std::string& device, int index, const std::string& text) override;
    void commitCrosspoints(const std::string& device, const std::map<int, int>& changes) override;

    void create(const SeedData& seed);
    void load();
    void insertHistory(const NameWrite& write, const std::string& oldText, const std::string& time,
                       long long batch);
    std::vector<HistoryEntry> entries(const Result& rows) const;

    PostgresConnection db_;
};

}  // namespace panelhost
