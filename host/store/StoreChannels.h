#pragma once

namespace panelhost {

// The channels on which a PostgreSQL store announces its commits
// (pg_notify), for the hosts that share it (StoreListener).
struct StoreChannels {
    // A name, slot or other change of the names' tables; the payload is its
    // sequence number in panelhost.changes.
    static constexpr const char* kNames = "panelhost_changes";
    // An account, token or session was added, changed or removed; no
    // payload.
    static constexpr const char* kAccounts = "panelhost_accounts";
};

}  // namespace panelhost
