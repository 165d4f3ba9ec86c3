#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "NameStore.h"

namespace panelhost {

// The store a host keeps its names in, chosen by `store`: empty for the
// SQLite file `dataFile` (created with `seed` when missing), a
// postgresql:// or postgres:// URL for that database (its schema created
// with `seed` when missing). The caller owns the store. Throws StoreError
// when the store cannot be opened, and for any other kind of `store`.
std::unique_ptr<NameStore> openNameStore(const std::string& store,
                                         const std::filesystem::path& dataFile,
                                         const SeedData& seed);

// Whether `store` names a PostgreSQL database.
bool isPostgresStore(const std::string& store);

}  // namespace panelhost
