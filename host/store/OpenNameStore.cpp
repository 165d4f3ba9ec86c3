#include "OpenNameStore.h"

#include "PostgresNameStore.h"
#include "SqliteNameStore.h"

namespace panelhost {

bool isPostgresStore(const std::string& store) {
    return store.rfind("postgresql://", 0) == 0 || store.rfind("postgres://", 0) == 0;
}

std::unique_ptr<NameStore> openNameStore(const std::string& store,
                                         const std::filesystem::path& dataFile,
                                         const SeedData& seed) {
    if (store.empty()) {
        return std::make_unique<SqliteNameStore>(dataFile, seed);
    }
    if (isPostgresStore(store)) {
        return std::make_unique<PostgresNameStore>(store, seed);
    }
    throw StoreError("--store must be empty (the data file) or a postgresql:// URL");
}

}  // namespace panelhost
