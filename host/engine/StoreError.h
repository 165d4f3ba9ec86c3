#pragma once

#include <stdexcept>

namespace panelhost {

// The store cannot be used or written (a data file not ours, corrupt, in
// use or unwritable; a database server that refuses or is gone); what()
// says which file or server and why. Thrown by the name store the engine
// writes through and by the account store and connections beside it.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The database server cannot be reached now (stopped, restarting, the
// connection lost): the write was not committed, and may succeed once the
// server is back. Other StoreErrors are refusals that a retry will not cure.
class StoreUnavailable : public StoreError {
  public:
    using StoreError::StoreError;
};

}  // namespace panelhost
