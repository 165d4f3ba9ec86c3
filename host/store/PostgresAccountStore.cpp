#include "PostgresAccountStore.h"

#include <sodium.h>

#include "StoreChannels.h"

namespace panelhost {
namespace {

// Names compare without regard to case, as in the data file: the unique
// indexes are on lower(name) and every lookup compares lower() with lower().
constexpr const char* kTables = R"sql(
CREATE TABLE IF NOT EXISTS panelhost.accounts (name TEXT NOT NULL, role TEXT NOT NULL,
                                               password TEXT NOT NULL, created TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS accounts_name ON panelhost.accounts (lower(name));
CREATE TABLE IF NOT EXISTS panelhost.tokens (name TEXT NOT NULL, role TEXT NOT NULL,
                                             hash BYTEA NOT NULL UNIQUE, created TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS tokens_name ON panelhost.tokens (lower(name));
CREATE TABLE IF NOT EXISTS panelhost.sessions (hash BYTEA NOT NULL PRIMARY KEY,
                                               account TEXT NOT NULL, last_used BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_account ON panelhost.sessions (lower(account));
CREATE TABLE IF NOT EXISTS panelhost.once_logins (hash BYTEA NOT NULL PRIMARY KEY,
                                                  account TEXT NOT NULL, expires BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS panelhost.account_changes (id BIGSERIAL PRIMARY KEY,
                                                      time TEXT NOT NULL, actor TEXT NOT NULL,
                                                      address TEXT NOT NULL, action TEXT NOT NULL,
                                                      subject TEXT NOT NULL, detail TEXT NOT NULL);
ALTER TABLE panelhost.accounts ADD COLUMN IF NOT EXISTS last_login BIGINT NOT NULL DEFAULT 0;
ALTER TABLE panelhost.tokens ADD COLUMN IF NOT EXISTS last_used BIGINT NOT NULL DEFAULT 0;
ALTER TABLE panelhost.sessions ADD COLUMN IF NOT EXISTS created BIGINT NOT NULL DEFAULT 0;
ALTER TABLE panelhost.sessions ADD COLUMN IF NOT EXISTS address TEXT NOT NULL DEFAULT '';
)sql";

// Self-conflicting, so that of two changes that count the admins the second
// sees the first one's result; readers of the accounts are not held up.
constexpr const char* kLockAccounts = "LOCK TABLE panelhost.accounts IN SHARE ROW EXCLUSIVE MODE";

constexpr auto number = PostgresConnection::number;

// A hash as a bytea parameter, in the server's hex input form.
std::string bytes(const std::vector<unsigned char>& hash) {
    std::string hex(2 * hash.size() + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), hash.data(), hash.size());
    hex.pop_back();
    return "\\x" + hex;
}

Role storedRole(const std::string& name) {
    return parseRole(name).value_or(Role::Viewer);
}

}  // namespace

PostgresAccountStore::PostgresAccountStore(const std::string& url, std::chrono::seconds sessionIdle,
                                           Clock clock)
    : AccountStore(sessionIdle, std::move(clock)), db_(url) {
    const Result format =
        db_.run("cannot be read", "SELECT to_regclass('panelhost.format') IS NOT NULL");
    if (format.text(0, 0) != "t") {
        throw StoreError(location() +
                         ": has no panelhost schema for the accounts; a panelhost started with "
                         "this --store makes it");
    }
    db_.transaction("cannot set up the account tables", [&] {
        // Hosts starting together make the tables one after the other: the
        // lock conflicts with itself, not with the readers of the format.
        db_.run("cannot set up the account tables",
                "LOCK TABLE panelhost.format IN SHARE ROW EXCLUSIVE MODE");
        db_.run("cannot set up the account tables", kTables);
    });
}

PostgresConnection::Result PostgresAccountStore::read(const std::string& what, const char* sql,
                                                      const Parameters& parameters) const {
    db_.reconnectIfLost();
    try {
        return db_.run(what, sql, parameters);
    } catch (const StoreError&) {
        if (db_.connected()) {
            throw;
        }
    }
    db_.reconnectIfLost();
    return db_.run(what, sql, parameters);
}

PostgresConnection::Result PostgresAccountStore::write(const std::string& what, const char* sql,
                                                       const Parameters& parameters) {
    db_.reconnectIfLost();
    return db_.run(what, sql, parameters);
}

void PostgresAccountStore::record(const AccountChange& change) {
    db_.run(
        "cannot record an account change",
        "INSERT INTO panelhost.account_changes (time, actor, address, action, subject, detail) "
        "VALUES ($1, $2, $3, $4, $5, $6)",
        {change.time, change.actor, change.address, change.action, change.subject, change.detail});
    announce();
}

void PostgresAccountStore::announce() {
    db_.run("cannot announce an account change", "SELECT pg_notify($1, '')",
            {std::string(StoreChannels::kAccounts)});
}

bool PostgresAccountStore::insertAccount(const std::string& name, Role role,
                                         const std::string& hash, const std::string& created,
                                         const AccountChange& change) {
    bool added = false;
    db_.transaction("cannot add an account", [&] {
        added =
            db_.run("cannot add an account",
                    "INSERT INTO panelhost.accounts (name, role, password, created) "
                    "VALUES ($1, $2, $3, $4) ON CONFLICT ((lower(name))) DO NOTHING RETURNING name",
                    {name, roleName(role), hash, created})
                .rows() == 1;
        if (added && !hash.empty()) {
            db_.run("cannot void the one-time logins", "DELETE FROM panelhost.once_logins");
        }
        if (added) {
            record(change);
        }
    });
    return added;
}

bool PostgresAccountStore::insertFirstAccount(const std::string& name, Role role,
                                              const std::string& created,
                                              const AccountChange& change) {
    bool added = false;
    db_.transaction("cannot add an account", [&] {
        // Self-conflicting, so that of several hosts starting together the
        // second sees the first one's account once it may go on; readers of
        // the accounts are not held up.
        db_.run("cannot add an account",
                "LOCK TABLE panelhost.accounts IN SHARE ROW EXCLUSIVE MODE");
        added = db_.run("cannot add an account",
                        "INSERT INTO panelhost.accounts (name, role, password, created) "
                        "SELECT $1, $2, '', $3 "
                        "WHERE NOT EXISTS (SELECT 1 FROM panelhost.accounts) RETURNING name",
                        {name, roleName(role), created})
                    .rows() == 1;
        if (added) {
            record(change);
        }
    });
    return added;
}

PostgresAccountStore::Removal PostgresAccountStore::deleteAccount(const std::string& name,
                                                                  const AccountChange& change) {
    Removal removal = Removal::Removed;
    db_.transaction("cannot remove an account", [&] {
        // Locked against a concurrent removal or demotion of the other
        // admin, which would otherwise leave none.
        db_.run("cannot remove an account", kLockAccounts);
        const Result found =
            db_.run("cannot read the accounts",
                    "SELECT role, (SELECT count(*) FROM panelhost.accounts WHERE role = 'admin') "
                    "FROM panelhost.accounts WHERE lower(name) = lower($1)",
                    {name});
        if (found.rows() == 0) {
            removal = Removal::Unknown;
            return;
        }
        if (storedRole(found.text(0, 0)) == Role::Admin && found.integer(0, 1) <= 1) {
            removal = Removal::LastAdmin;
            return;
        }
        db_.run("cannot remove an account",
                "DELETE FROM panelhost.sessions WHERE lower(account) = lower($1)", {name});
        db_.run("cannot remove an account",
                "DELETE FROM panelhost.once_logins WHERE lower(account) = lower($1)", {name});
        db_.run("cannot remove an account",
                "DELETE FROM panelhost.accounts WHERE lower(name) = lower($1)", {name});
        record(change);
    });
    return removal;
}

PostgresAccountStore::RoleUpdate PostgresAccountStore::updateRole(const std::string& name,
                                                                  Role role, AccountChange change) {
    RoleUpdate update;
    db_.transaction("cannot change a role", [&] {
        db_.run("cannot change a role", kLockAccounts);
        const Result found =
            db_.run("cannot read the accounts",
                    "SELECT role, (SELECT count(*) FROM panelhost.accounts WHERE role = 'admin') "
                    "FROM panelhost.accounts WHERE lower(name) = lower($1)",
                    {name});
        if (found.rows() == 0) {
            update = RoleUpdate{Removal::Unknown, Role::Viewer};
            return;
        }
        const Role was = storedRole(found.text(0, 0));
        update = RoleUpdate{Removal::Removed, was};
        if (was == role) {
            return;
        }
        if (was == Role::Admin && found.integer(0, 1) <= 1) {
            update.outcome = Removal::LastAdmin;
            return;
        }
        db_.run("cannot change a role",
                "UPDATE panelhost.accounts SET role = $1 WHERE lower(name) = lower($2)",
                {roleName(role), name});
        change.detail = "from " + roleName(was) + " to " + roleName(role);
        record(change);
    });
    return update;
}

bool PostgresAccountStore::updatePassword(const std::string& name, const std::string& hash,
                                          const SecretHash* keep, const AccountChange& change) {
    bool found = false;
    db_.transaction("cannot set a password", [&] {
        found = db_.run("cannot set a password",
                        "UPDATE panelhost.accounts SET password = $1 "
                        "WHERE lower(name) = lower($2) RETURNING name",
                        {hash, name})
                    .rows() == 1;
        if (!found) {
            return;
        }
        db_.run("cannot end the account's sessions",
                "DELETE FROM panelhost.sessions WHERE lower(account) = lower($1) "
                "AND hash IS DISTINCT FROM $2::bytea",
                {name, keep == nullptr ? std::optional<std::string>() : bytes(*keep)});
        db_.run("cannot void the one-time logins", "DELETE FROM panelhost.once_logins");
        record(change);
    });
    return found;
}

std::vector<Account> PostgresAccountStore::selectAccounts() const {
    const Result rows = read("cannot read the accounts",
                             "SELECT name, role, password <> '', created, last_login "
                             "FROM panelhost.accounts ORDER BY lower(name)",
                             {});
    std::vector<Account> list;
    for (int row = 0; row < rows.rows(); ++row) {
        list.push_back(Account{rows.text(row, 0), storedRole(rows.text(row, 1)),
                               rows.text(row, 2) == "t", rows.text(row, 3),
                               isoTime(rows.integer(row, 4))});
    }
    return list;
}

bool PostgresAccountStore::selectAnyPassword() const {
    return read("cannot read the accounts",
                "SELECT EXISTS (SELECT 1 FROM panelhost.accounts WHERE password <> '')", {})
               .text(0, 0) == "t";
}

std::optional<std::pair<Identity, std::string>> PostgresAccountStore::selectPassword(
    const std::string& name) const {
    const Result rows = read("cannot read the accounts",
                             "SELECT name, role, password FROM panelhost.accounts "
                             "WHERE lower(name) = lower($1)",
                             {name});
    if (rows.rows() == 0) {
        return std::nullopt;
    }
    return std::pair{Identity{rows.text(0, 0), storedRole(rows.text(0, 1)), false},
                     rows.text(0, 2)};
}

bool PostgresAccountStore::insertToken(const std::string& name, Role role, const SecretHash& hash,
                                       const std::string& created, const AccountChange& change) {
    bool added = false;
    db_.reconnectIfLost();
    db_.transaction("cannot add a token", [&] {
        added = db_.run("cannot add a token",
                        "INSERT INTO panelhost.tokens (name, role, hash, created) "
                        "VALUES ($1, $2, $3, $4) ON CONFLICT ((lower(name))) DO NOTHING "
                        "RETURNING name",
                        {name, roleName(role), bytes(hash), created})
                    .rows() == 1;
        if (added) {
            record(change);
        }
    });
    return added;
}

std::optional<Identity> PostgresAccountStore::selectToken(const SecretHash& hash) const {
    const Result rows =
        read("cannot read the tokens", "SELECT name, role FROM panelhost.tokens WHERE hash = $1",
             {bytes(hash)});
    if (rows.rows() == 0) {
        return std::nullopt;
    }
    return Identity{rows.text(0, 0), storedRole(rows.text(0, 1)), true};
}

void PostgresAccountStore::touchToken(const SecretHash& hash, long long now) const {
    db_.run("cannot mark a token as used",
            "UPDATE panelhost.tokens SET last_used = $1 WHERE hash = $2",
            {number(now), bytes(hash)});
}

bool PostgresAccountStore::deleteToken(const std::string& name, const AccountChange& change) {
    bool found = false;
    db_.reconnectIfLost();
    db_.transaction("cannot revoke a token", [&] {
        found = db_.run("cannot revoke a token",
                        "DELETE FROM panelhost.tokens WHERE lower(name) = lower($1) RETURNING name",
                        {name})
                    .rows() > 0;
        if (found) {
            record(change);
        }
    });
    return found;
}

std::vector<TokenInfo> PostgresAccountStore::selectTokens() const {
    const Result rows = read(
        "cannot read the tokens",
        "SELECT name, role, created, last_used FROM panelhost.tokens ORDER BY lower(name)", {});
    std::vector<TokenInfo> list;
    for (int row = 0; row < rows.rows(); ++row) {
        list.push_back(TokenInfo{rows.text(row, 0), storedRole(rows.text(row, 1)),
                                 rows.text(row, 2), isoTime(rows.integer(row, 3))});
    }
    return list;
}

std::vector<KeptIdentity> PostgresAccountStore::selectIdentities() const {
    // One statement, so that tokens and sessions are read as of one moment.
    const Result rows =
        read("cannot read the tokens and sessions",
             "SELECT encode(hash, 'hex'), name, role, last_used, 't' FROM panelhost.tokens "
             "UNION ALL "
             "SELECT encode(s.hash, 'hex'), a.name, a.role, s.last_used, 's' "
             "FROM panelhost.sessions s "
             "JOIN panelhost.accounts a ON lower(a.name) = lower(s.account)",
             {});
    std::vector<KeptIdentity> kept;
    for (int row = 0; row < rows.rows(); ++row) {
        const std::string hex = rows.text(row, 0);
        std::vector<unsigned char> hash(hex.size() / 2);
        std::size_t length = 0;
        sodium_hex2bin(hash.data(), hash.size(), hex.data(), hex.size(), nullptr, &length, nullptr);
        hash.resize(length);
        const bool token = rows.text(row, 4) == "t";
        kept.push_back(KeptIdentity{
            std::move(hash), Identity{rows.text(row, 1), storedRole(rows.text(row, 2)), token},
            rows.integer(row, 3)});
    }
    return kept;
}

void PostgresAccountStore::addSession(const SecretHash& hash, const std::string& account,
                                      long long now, long long idleBefore,
                                      const std::string& address) {
    db_.run("cannot end idle sessions", "DELETE FROM panelhost.sessions WHERE last_used < $1",
            {number(idleBefore)});
    db_.run("cannot open a session",
            "INSERT INTO panelhost.sessions (hash, account, last_used, created, address) "
            "VALUES ($1, $2, $3, $3, $4)",
            {bytes(hash), account, number(now), address});
    db_.run("cannot note a login",
            "UPDATE panelhost.accounts SET last_login = $1 WHERE lower(name) = lower($2)",
            {number(now), account});
}

void PostgresAccountStore::insertSession(const SecretHash& hash, const std::string& account,
                                         long long now, long long idleBefore,
                                         const std::string& address) {
    db_.transaction("cannot open a session",
                    [&] { addSession(hash, account, now, idleBefore, address); });
}

std::vector<PostgresAccountStore::SessionRow> PostgresAccountStore::selectSessions(
    const std::string& account) const {
    const Result rows = read("cannot read the sessions",
                             "SELECT encode(hash, 'hex'), created, last_used, address "
                             "FROM panelhost.sessions WHERE lower(account) = lower($1) "
                             "ORDER BY created, hash",
                             {account});
    std::vector<SessionRow> list;
    for (int row = 0; row < rows.rows(); ++row) {
        const std::string hex = rows.text(row, 0);
        SecretHash hash(hex.size() / 2);
        sodium_hex2bin(hash.data(), hash.size(), hex.data(), hex.size(), nullptr, nullptr, nullptr);
        list.push_back(SessionRow{std::move(hash), rows.integer(row, 1), rows.integer(row, 2),
                                  rows.text(row, 3)});
    }
    return list;
}

int PostgresAccountStore::deleteSessions(const std::string& account,
                                         const std::vector<SecretHash>& hashes,
                                         const SecretHash* keep, const AccountChange& change) {
    int ended = 0;
    const std::optional<std::string> kept =
        keep == nullptr ? std::optional<std::string>() : bytes(*keep);
    db_.reconnectIfLost();
    db_.transaction("cannot end sessions", [&] {
        const auto remove = [&](const std::optional<std::string>& only) {
            ended += db_.run("cannot end sessions",
                             "DELETE FROM panelhost.sessions WHERE lower(account) = lower($1) "
                             "AND hash IS DISTINCT FROM $2::bytea "
                             "AND ($3::bytea IS NULL OR hash = $3::bytea) RETURNING 1",
                             {account, kept, only})
                         .rows();
        };
        if (hashes.empty()) {
            remove(std::nullopt);
        }
        for (const SecretHash& hash : hashes) {
            remove(bytes(hash));
        }
        if (ended > 0) {
            record(change);
        }
    });
    return ended;
}

std::optional<PostgresAccountStore::SessionRecord> PostgresAccountStore::selectSession(
    const SecretHash& hash) const {
    const Result rows =
        read("cannot read the sessions",
             "SELECT a.name, a.role, s.last_used FROM panelhost.sessions s "
             "JOIN panelhost.accounts a ON lower(a.name) = lower(s.account) WHERE s.hash = $1",
             {bytes(hash)});
    if (rows.rows() == 0) {
        return std::nullopt;
    }
    return SessionRecord{Identity{rows.text(0, 0), storedRole(rows.text(0, 1)), false},
                         rows.integer(0, 2)};
}

void PostgresAccountStore::touchSession(const SecretHash& hash, long long now) {
    write("cannot mark a session as used",
          "UPDATE panelhost.sessions SET last_used = $1 WHERE hash = $2",
          {number(now), bytes(hash)});
}

void PostgresAccountStore::deleteSession(const SecretHash& hash) {
    if (write("cannot end a session", "DELETE FROM panelhost.sessions WHERE hash = $1 RETURNING 1",
              {bytes(hash)})
            .rows() > 0) {
        announce();
    }
}

bool PostgresAccountStore::replaceOnceLogin(const std::string& name, const SecretHash& hash,
                                            long long expires) {
    bool found = false;
    db_.transaction("cannot add a one-time login", [&] {
        const Result account =
            db_.run("cannot read the accounts",
                    "SELECT name FROM panelhost.accounts WHERE lower(name) = lower($1)", {name});
        if (account.rows() == 0) {
            return;
        }
        found = true;
        db_.run("cannot replace a one-time login", "DELETE FROM panelhost.once_logins");
        db_.run("cannot add a one-time login",
                "INSERT INTO panelhost.once_logins (hash, account, expires) VALUES ($1, $2, $3)",
                {bytes(hash), account.text(0, 0), number(expires)});
    });
    return found;
}

std::optional<Identity> PostgresAccountStore::useOnceLogin(const SecretHash& hash,
                                                           const SecretHash& session, long long now,
                                                           long long idleBefore,
                                                           const std::string& address) {
    std::optional<Identity> identity;
    db_.transaction("cannot use a one-time login", [&] {
        // Against a password being set meanwhile: that waits for this
        // transaction, and one set before it is seen below. Logins with a
        // link change no account and do not hold each other up.
        db_.run("cannot use a one-time login", "LOCK TABLE panelhost.accounts IN SHARE MODE");
        // Deleting first makes two hosts given the same secret at once
        // agree: only the one whose delete found the row goes on. Used up
        // whatever follows: a second use, even of an expired secret, finds
        // nothing.
        const Result used = db_.run(
            "cannot use up a one-time login",
            "DELETE FROM panelhost.once_logins o WHERE o.hash = $1 RETURNING o.expires, "
            "(SELECT a.name FROM panelhost.accounts a WHERE lower(a.name) = lower(o.account)), "
            "(SELECT a.role FROM panelhost.accounts a WHERE lower(a.name) = lower(o.account)), "
            "EXISTS (SELECT 1 FROM panelhost.accounts WHERE password <> '')",
            {bytes(hash)});
        if (used.rows() == 0 || used.isNull(0, 1) || now > used.integer(0, 0) ||
            used.text(0, 3) == "t") {
            return;
        }
        identity = Identity{used.text(0, 1), storedRole(used.text(0, 2)), false};
        addSession(session, identity->name, now, idleBefore, address);
    });
    return identity;
}

std::vector<AccountChange> PostgresAccountStore::selectChanges(long long before, int limit) const {
    const Result rows =
        read("cannot read the account changes",
             "SELECT id, time, actor, address, action, subject, detail "
             "FROM panelhost.account_changes WHERE $1::bigint = 0 OR id < $1::bigint "
             "ORDER BY id DESC LIMIT $2",
             {number(before), number(limit)});
    std::vector<AccountChange> list;
    for (int row = 0; row < rows.rows(); ++row) {
        list.push_back(AccountChange{rows.integer(row, 0), rows.text(row, 1), rows.text(row, 2),
                                     rows.text(row, 3), rows.text(row, 4), rows.text(row, 5),
                                     rows.text(row, 6)});
    }
    return list;
}

}  // namespace panelhost
