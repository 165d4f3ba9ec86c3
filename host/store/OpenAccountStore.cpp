#include "OpenAccountStore.h"

#include "OpenNameStore.h"
#include "PostgresAccountStore.h"
#include "SqliteAccountStore.h"

namespace panelhost {

std::unique_ptr<AccountStore> openAccountStore(const std::string& store,
                                               const std::filesystem::path& dataFile,
                                               std::chrono::seconds sessionIdle) {
    if (store.empty()) {
        return std::make_unique<SqliteAccountStore>(dataFile, sessionIdle);
    }
    if (isPostgresStore(store)) {
        return std::make_unique<PostgresAccountStore>(store, sessionIdle);
    }
    throw StoreError("--store must be empty (the data file) or a postgresql:// URL");
}

}  // namespace panelhost
