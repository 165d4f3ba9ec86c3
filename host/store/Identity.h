#pragma once

#include <string>

#include "Role.h"

namespace panelhost {

// Who a request comes from: an account (by password, session or one-time
// login) or an API token. A plain value; any thread may copy it.
struct Identity {
    std::string name;
    Role role = Role::Viewer;
    bool token = false;
    // True when the account store could not be reached and answered from
    // what it verified shortly before (AccountStore::kIdentityGrace).
    bool remembered = false;

    // For the history and the log: "NAME" or "token NAME".
    std::string who() const { return token ? "token " + name : name; }
};

}  // namespace panelhost
