#pragma once

#include "DeviceCatalog.h"
#include "NameStore.h"

namespace panelhost {

// The contents of a new data file: plausible studio source names (at most 16
// characters) in every database, the set titles in a device's title
// database, and the configured initial slots.
class NameSeed {
  public:
    static SeedData forCatalog(const DeviceCatalog& catalog);
};

}  // namespace panelhost
