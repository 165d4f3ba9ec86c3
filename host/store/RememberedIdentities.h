#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Identity.h"

namespace panelhost {

// The identities an account store verified lately, by the kept hash of the
// token or session id (never the secret itself), so that while the store
// cannot be reached a client it knew a moment ago is still known. An entry
// is recalled only within the grace period after its last verification;
// beyond `capacity` entries the least recently verified is forgotten. Not
// thread-safe: its owner (AccountStore) calls it under its own lock.
class RememberedIdentities {
  public:
    using Hash = std::vector<unsigned char>;
    using Time = std::chrono::system_clock::time_point;

    RememberedIdentities(std::chrono::seconds grace, std::size_t capacity);

    // The store verified `identity` for `hash` at `now`.
    void verified(const Hash& hash, const Identity& identity, Time now);
    // The identity verified for `hash` at most the grace period before
    // `now`, marked as remembered; nothing otherwise, also when the clock
    // now reads earlier than the verification.
    std::optional<Identity> recall(const Hash& hash, Time now) const;
    // The store no longer knows `hash`.
    void forget(const Hash& hash);
    // The store ended every token (`token`) or every session of the account
    // (not `token`) named `name`, compared without regard to case.
    void forgetNamed(const std::string& name, bool token);
    std::size_t size() const { return index_.size(); }

  private:
    struct Entry {
        Hash hash;
        Identity identity;
        Time verified;
    };

    void erase(std::list<Entry>::iterator entry);

    std::chrono::seconds grace_;
    std::size_t capacity_;
    std::list<Entry> entries_;  // the most recently verified first
    std::map<Hash, std::list<Entry>::iterator> index_;
};

}  // namespace panelhost
