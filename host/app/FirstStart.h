#pragma once

#include <optional>
#include <string>

#include "AccountStore.h"

namespace panelhost {

// How a host with no accounts yet becomes usable with nothing set up, and
// stays safe on a network: on the first start an `admin` account without a
// password is made, and as long as no account has a password each start
// prints a one-time login link for it (like a token printed by a notebook
// server) and serving on anything but loopback is refused. The store must
// outlive each call.
class FirstStart {
  public:
    // The name of the account made on the first start.
    static constexpr const char* kAdminName = "admin";

    // Adds the `admin` account, without a password, when no account exists
    // (checked and added in one transaction); whether this call added it.
    // On a store that several hosts share, only the host that added it
    // prints the login link, so that a second host does not replace it.
    static bool createAdmin(AccountStore& accounts);
    // A refusal to serve on `bind` for the console, when it is not a
    // loopback address and no account has a password; nothing otherwise.
    static std::optional<std::string> refusal(const AccountStore& accounts,
                                              const std::string& bind);
    // While no account has a password: a new one-time login for the first
    // admin account without one, as the link to open, `url` being the
    // host's address ending in '/'; it voids every link printed before.
    // Nothing once some account has a password (and no link works then).
    static std::optional<std::string> loginLink(AccountStore& accounts, const std::string& url);
};

}  // namespace panelhost
