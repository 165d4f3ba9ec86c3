#include "AccountCommands.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <ostream>
#include <stdexcept>

namespace panelhost {
namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
// Spaces between the columns of a listing.
constexpr std::size_t kColumnGap = 2;

// Runs `command`; a refusal, a data file that cannot be used or a password
// that cannot be hashed is reported on `err` and gives kRefused.
int guarded(std::ostream& err, const std::function<void()>& command) {
    try {
        command();
        return kDone;
    } catch (const AccountError& error) {
        err << "panelhost: " << error.what() << std::endl;
    } catch (const StoreError& error) {
        err << "panelhost: " << error.what() << std::endl;
    } catch (const std::runtime_error& error) {
        // Out of memory for a password hash.
        err << "panelhost: " << error.what() << std::endl;
    }
    return kRefused;
}

Role knownRole(const std::string& name) {
    const std::optional<Role> role = parseRole(name);
    if (!role) {
        throw AccountError("no role \"" + name + "\" (viewer, operator, engineer or admin)");
    }
    return *role;
}

bool exists(const AccountStore& accounts, const std::string& name) {
    const std::vector<Account> list = accounts.accounts();
    return std::any_of(list.begin(), list.end(), [&](const Account& account) {
        return std::equal(
            account.name.begin(), account.name.end(), name.begin(), name.end(),
            [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
    });
}

// Who runs the command, for the history: the command line and the system
// user running it (or its number when it has no name).
Actor console() {
    const passwd* entry = getpwuid(geteuid());
    const std::string user = entry != nullptr && entry->pw_name != nullptr
                                 ? entry->pw_name
                                 : "uid " + std::to_string(geteuid());
    return Actor{"panelhost user (" + user + ")", "command line"};
}

// Rows of texts in columns as wide as their widest entry.
void table(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i + 1 < row.size()) {
                out << std::left << std::setw(static_cast<int>(widths[i] + kColumnGap)) << row[i];
            } else {
                out << row[i];
            }
        }
        out << '\n';
    }
    out.flush();
}

}  // namespace

int AccountCommands::addUser(AccountStore& accounts, const std::string& name,
                             const std::string& role, const PasswordSource& password,
                             std::ostream& out, std::ostream& err) {
    return guarded(err, [&] {
        const Role known = knownRole(role);
        // Asked before the password, so nobody types one for nothing.
        if (exists(accounts, name)) {
            throw AccountError("an account named \"" + name + "\" exists already");
        }
        const std::string secret = password();
        if (secret.empty()) {
            throw AccountError("an account added here needs a password");
        }
        accounts.addAccount(name, known, secret, console());
        out << "account \"" << name << "\" added as " << roleName(known) << std::endl;
    });
}

int AccountCommands::removeUser(AccountStore& accounts, const std::string& name, std::ostream& out,
                                std::ostream& err) {
    return guarded(err, [&] {
        accounts.removeAccount(name, console());
        out << "account \"" << name << "\" removed, and its sessions ended" << std::endl;
    });
}

int AccountCommands::setPassword(AccountStore& accounts, const std::string& name,
                                 const PasswordSource& password, std::ostream& out,
                                 std::ostream& err) {
    return guarded(err, [&] {
        if (!exists(accounts, name)) {
            throw AccountError("there is no account named \"" + name + "\"");
        }
        accounts.setPassword(name, password(), console());
        out << "password of \"" << name << "\" set; its sessions ended" << std::endl;
    });
}

int AccountCommands::setRole(AccountStore& accounts, const std::string& name,
                             const std::string& role, std::ostream& out, std::ostream& err) {
    return guarded(err, [&] {
        const Role known = knownRole(role);
        accounts.setRole(name, known, console());
        out << "account \"" << name << "\" is now " << roleName(known)
            << ", from its next request on; its sessions stay open" << std::endl;
    });
}

int AccountCommands::listUsers(const AccountStore& accounts, std::ostream& out, std::ostream& err) {
    return guarded(err, [&] {
        std::vector<std::vector<std::string>> rows = {
            {"NAME", "ROLE", "PASSWORD", "CREATED", "LAST LOGIN"}};
        for (const Account& account : accounts.accounts()) {
            rows.push_back({account.name, roleName(account.role),
                            account.hasPassword ? "set" : "none (one-time login only)",
                            account.created,
                            account.lastLogin.empty() ? "never" : account.lastLogin});
        }
        table(out, rows);
    });
}

int AccountCommands::createToken(AccountStore& accounts, const std::string& role,
                                 const std::string& name, std::ostream& out, std::ostream& err) {
    return guarded(err, [&] {
        const Role known = knownRole(role);
        const NewToken created = accounts.createToken(known, name, console());
        out << created.token << std::endl;
        err << "panelhost: token \"" << created.name << "\" (" << roleName(known)
            << ") created; it is shown only now. Send it as \"Authorization: Bearer TOKEN\"."
            << std::endl;
    });
}

int AccountCommands::revokeToken(AccountStore& accounts, const std::string& name, std::ostream& out,
                                 std::ostream& err) {
    return guarded(err, [&] {
        accounts.revokeToken(name, console());
        out << "token \"" << name << "\" revoked" << std::endl;
    });
}

int AccountCommands::listTokens(const AccountStore& accounts, std::ostream& out,
                                std::ostream& err) {
    return guarded(err, [&] {
        std::vector<std::vector<std::string>> rows = {{"NAME", "ROLE", "CREATED", "LAST USED"}};
        for (const TokenInfo& token : accounts.tokens()) {
            rows.push_back({token.name, roleName(token.role), token.created,
                            token.lastUsed.empty() ? "never" : token.lastUsed});
        }
        table(out, rows);
    });
}

}  // namespace panelhost
