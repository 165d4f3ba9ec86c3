#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "AccountStore.h"

namespace panelhost {

// The `panelhost user ...` and `panelhost token ...` subcommands on an open
// AccountStore: each reports on `out` (a new token alone, so that a script
// can capture it) and `err`, and returns the exit code: 0 when done, 1 when
// refused (nothing changed then). Nothing secret is written to `err`. Every
// change is recorded in the account history as made on the host's command
// line by the system user who ran it.
class AccountCommands {
  public:
    // Reads a password; throws AccountError when none can be read.
    using PasswordSource = std::function<std::string()>;

    static int addUser(AccountStore& accounts, const std::string& name, const std::string& role,
                       const PasswordSource& password, std::ostream& out, std::ostream& err);
    static int removeUser(AccountStore& accounts, const std::string& name, std::ostream& out,
                          std::ostream& err);
    static int setPassword(AccountStore& accounts, const std::string& name,
                           const PasswordSource& password, std::ostream& out, std::ostream& err);
    static int setRole(AccountStore& accounts, const std::string& name, const std::string& role,
                       std::ostream& out, std::ostream& err);
    static int listUsers(const AccountStore& accounts, std::ostream& out, std::ostream& err);

    static int createToken(AccountStore& accounts, const std::string& role, const std::string& name,
                           std::ostream& out, std::ostream& err);
    static int revokeToken(AccountStore& accounts, const std::string& name, std::ostream& out,
                           std::ostream& err);
    static int listTokens(const AccountStore& accounts, std::ostream& out, std::ostream& err);
};

}  // namespace panelhost
