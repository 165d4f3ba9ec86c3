#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "AccountStore.h"

namespace panelhost {

// The store a host keeps its accounts in, chosen by `store` as the names'
// store is (openNameStore): empty for the data file `dataFile`, a
// postgresql:// or postgres:// URL for that database; the names' store
// must have been opened there first (it makes the file or the schema). The
// caller owns the store. Throws StoreError when it cannot be opened.
std::unique_ptr<AccountStore> openAccountStore(
    const std::string& store, const std::filesystem::path& dataFile,
    std::chrono::seconds sessionIdle = AccountStore::kDefaultSessionIdle);

}  // namespace panelhost
