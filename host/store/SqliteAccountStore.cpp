#include "SqliteAccountStore.h"

#include <sqlite3.h>

#include <array>

#include "SqliteStatement.h"

namespace panelhost {
namespace {

// A command line account change waits this long for the running host's
// write to end; those take milliseconds.
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kTables = R"sql(
CREATE TABLE IF NOT EXISTS accounts (name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,
                                     role TEXT NOT NULL, password TEXT NOT NULL,
                                     created TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tokens (name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,
                                   role TEXT NOT NULL, hash BLOB NOT NULL UNIQUE,
                                   created TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (hash BLOB NOT NULL PRIMARY KEY,
                                     account TEXT NOT NULL COLLATE NOCASE,
                                     last_used INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS once_logins (hash BLOB NOT NULL PRIMARY KEY,
                                        account TEXT NOT NULL COLLATE NOCASE,
                                        expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS account_changes (id INTEGER PRIMARY KEY AUTOINCREMENT,
                                            time TEXT NOT NULL, actor TEXT NOT NULL,
                                            address TEXT NOT NULL, action TEXT NOT NULL,
                                            subject TEXT NOT NULL, detail TEXT NOT NULL);
)sql";

// Columns that data files made by earlier versions lack: table, column,
// definition. Times are seconds since the epoch, 0 for never.
constexpr std::array<std::array<const char*, 3>, 4> kAddedColumns = {{
    {"accounts", "last_login", "INTEGER NOT NULL DEFAULT 0"},
    {"tokens", "last_used", "INTEGER NOT NULL DEFAULT 0"},
    {"sessions", "created", "INTEGER NOT NULL DEFAULT 0"},
    {"sessions", "address", "TEXT NOT NULL DEFAULT ''"},
}};

Role storedRole(const std::string& name) {
    return parseRole(name).value_or(Role::Viewer);
}

}  // namespace

// One write transaction (BEGIN IMMEDIATE), rolled back unless committed.
class SqliteAccountStore::Transaction {
  public:
    explicit Transaction(const SqliteAccountStore& store) : store_(store) {
        store_.db_.execute("BEGIN IMMEDIATE");
    }
    ~Transaction() {
        if (!committed_) {
            sqlite3_exec(store_.db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit() {
        store_.db_.execute("COMMIT");
        committed_ = true;
    }

  private:
    const SqliteAccountStore& store_;
    bool committed_ = false;
};

SqliteAccountStore::SqliteAccountStore(const std::filesystem::path& file,
                                       std::chrono::seconds sessionIdle, Clock clock)
    : AccountStore(sessionIdle, std::move(clock)), db_(file, false, kBusyTimeoutMs) {
    SqliteStatement id(db_.handle(), "PRAGMA application_id");
    if (id.step() != SQLITE_ROW) {
        db_.fail("cannot be read");
    }
    if (id.integer(0) != SqliteConnection::kApplicationId) {
        throw StoreError(file.string() + ": is not a panelhost data file");
    }
    db_.expectDone(id.step(), "cannot be read");
    db_.execute("PRAGMA synchronous=FULL");
    db_.transaction("BEGIN IMMEDIATE", [&] {
        db_.execute(kTables);
        for (const auto& [table, column, definition] : kAddedColumns) {
            SqliteStatement has(db_.handle(),
                                "SELECT count(*) FROM pragma_table_info(?) WHERE name = ?");
            has.bind(1, table).bind(2, column);
            if (has.step() != SQLITE_ROW) {
                db_.fail("cannot be read");
            }
            const bool present = has.integer(0) != 0;
            db_.expectDone(has.step(), "cannot be read");
            if (!present) {
                db_.execute(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " +
                            definition);
            }
        }
    });
}

void SqliteAccountStore::record(const AccountChange& change) {
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO account_changes (time, actor, address, action, subject, "
                           "detail) VALUES (?, ?, ?, ?, ?, ?)");
    insert.bind(1, change.time)
        .bind(2, change.actor)
        .bind(3, change.address)
        .bind(4, change.action)
        .bind(5, change.subject)
        .bind(6, change.detail);
    db_.expectDone(insert.step(), "cannot record an account change");
}

std::optional<Role> SqliteAccountStore::roleOf(const std::string& name) const {
    SqliteStatement role(db_.handle(), "SELECT role FROM accounts WHERE name = ?");
    role.bind(1, name);
    const int found = role.step();
    if (found == SQLITE_DONE) {
        return std::nullopt;
    }
    if (found != SQLITE_ROW) {
        db_.fail("cannot read the accounts");
    }
    const Role held = storedRole(role.text(0));
    db_.expectDone(role.step(), "cannot read the accounts");
    return held;
}

long long SqliteAccountStore::admins() const {
    SqliteStatement count(db_.handle(), "SELECT count(*) FROM accounts WHERE role = 'admin'");
    if (count.step() != SQLITE_ROW) {
        db_.fail("cannot read the accounts");
    }
    const long long admins = count.integer(0);
    db_.expectDone(count.step(), "cannot read the accounts");
    return admins;
}

bool SqliteAccountStore::insertAccount(const std::string& name, Role role, const std::string& hash,
                                       const std::string& created, const AccountChange& change) {
    Transaction transaction(*this);
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO accounts (name, role, password, created) "
                           "VALUES (?, ?, ?, ?) ON CONFLICT (name) DO NOTHING");
    insert.bind(1, name).bind(2, roleName(role)).bind(3, hash).bind(4, created);
    db_.expectDone(insert.step(), "cannot add an account");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
    if (!hash.empty()) {
        voidOnceLogins();
    }
    record(change);
    transaction.commit();
    return true;
}

bool SqliteAccountStore::insertFirstAccount(const std::string& name, Role role,
                                            const std::string& created,
                                            const AccountChange& change) {
    // BEGIN IMMEDIATE takes the file's write lock first, so the check and
    // the insert see no other writer in between.
    Transaction transaction(*this);
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO accounts (name, role, password, created) "
                           "SELECT ?, ?, '', ? WHERE NOT EXISTS (SELECT 1 FROM accounts)");
    insert.bind(1, name).bind(2, roleName(role)).bind(3, created);
    db_.expectDone(insert.step(), "cannot add an account");
    const bool added = sqlite3_changes(db_.handle()) != 0;
    if (added) {
        record(change);
    }
    transaction.commit();
    return added;
}

SqliteAccountStore::Removal SqliteAccountStore::deleteAccount(const std::string& name,
                                                              const AccountChange& change) {
    // BEGIN IMMEDIATE: no other writer between the count of admins and
    // the removal, so two admins removing each other leave one.
    Transaction transaction(*this);
    const std::optional<Role> removed = roleOf(name);
    if (!removed) {
        return Removal::Unknown;
    }
    if (*removed == Role::Admin && admins() <= 1) {
        return Removal::LastAdmin;
    }
    for (const char* sql :
         {"DELETE FROM sessions WHERE account = ?", "DELETE FROM once_logins WHERE account = ?",
          "DELETE FROM accounts WHERE name = ?"}) {
        SqliteStatement remove(db_.handle(), sql);
        remove.bind(1, name);
        db_.expectDone(remove.step(), "cannot remove an account");
    }
    record(change);
    transaction.commit();
    return Removal::Removed;
}

SqliteAccountStore::RoleUpdate SqliteAccountStore::updateRole(const std::string& name, Role role,
                                                              AccountChange change) {
    Transaction transaction(*this);
    const std::optional<Role> was = roleOf(name);
    if (!was) {
        return RoleUpdate{Removal::Unknown, Role::Viewer};
    }
    if (*was == role) {
        return RoleUpdate{Removal::Removed, *was};
    }
    if (*was == Role::Admin && admins() <= 1) {
        return RoleUpdate{Removal::LastAdmin, *was};
    }
    SqliteStatement update(db_.handle(), "UPDATE accounts SET role = ? WHERE name = ?");
    update.bind(1, roleName(role)).bind(2, name);
    db_.expectDone(update.step(), "cannot change a role");
    change.detail = "from " + roleName(*was) + " to " + roleName(role);
    record(change);
    transaction.commit();
    return RoleUpdate{Removal::Removed, *was};
}

bool SqliteAccountStore::updatePassword(const std::string& name, const std::string& hash,
                                        const SecretHash* keep, const AccountChange& change) {
    Transaction transaction(*this);
    SqliteStatement update(db_.handle(), "UPDATE accounts SET password = ? WHERE name = ?");
    update.bind(1, hash).bind(2, name);
    db_.expectDone(update.step(), "cannot set a password");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
    SqliteStatement sessions(db_.handle(),
                             "DELETE FROM sessions WHERE account = ? AND hash IS NOT ?");
    sessions.bind(1, name);
    if (keep != nullptr) {
        sessions.bindBlob(2, *keep);
    }
    db_.expectDone(sessions.step(), "cannot end the account's sessions");
    voidOnceLogins();
    record(change);
    transaction.commit();
    return true;
}

std::vector<Account> SqliteAccountStore::selectAccounts() const {
    SqliteStatement select(db_.handle(),
                           "SELECT name, role, password <> '', created, last_login FROM accounts "
                           "ORDER BY name");
    std::vector<Account> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(Account{select.text(0), storedRole(select.text(1)), select.integer(2) != 0,
                               select.text(3), isoTime(select.integer(4))});
    }
    db_.expectDone(step, "cannot read the accounts");
    return list;
}

bool SqliteAccountStore::selectAnyPassword() const {
    SqliteStatement select(db_.handle(),
                           "SELECT EXISTS (SELECT 1 FROM accounts WHERE password <> '')");
    if (select.step() != SQLITE_ROW) {
        db_.fail("cannot read the accounts");
    }
    const bool any = select.integer(0) != 0;
    db_.expectDone(select.step(), "cannot read the accounts");
    return any;
}

std::optional<std::pair<Identity, std::string>> SqliteAccountStore::selectPassword(
    const std::string& name) const {
    SqliteStatement select(db_.handle(),
                           "SELECT name, role, password FROM accounts WHERE name = ?");
    select.bind(1, name);
    const int step = select.step();
    if (step != SQLITE_ROW) {
        db_.expectDone(step, "cannot read the accounts");
        return std::nullopt;
    }
    std::pair<Identity, std::string> found{
        Identity{select.text(0), storedRole(select.text(1)), false}, select.text(2)};
    db_.expectDone(select.step(), "cannot read the accounts");
    return found;
}

bool SqliteAccountStore::insertToken(const std::string& name, Role role, const SecretHash& hash,
                                     const std::string& created, const AccountChange& change) {
    Transaction transaction(*this);
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO tokens (name, role, hash, created) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT (name) DO NOTHING");
    insert.bind(1, name).bind(2, roleName(role)).bindBlob(3, hash).bind(4, created);
    db_.expectDone(insert.step(), "cannot add a token");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
    record(change);
    transaction.commit();
    return true;
}

std::optional<Identity> SqliteAccountStore::selectToken(const SecretHash& hash) const {
    SqliteStatement select(db_.handle(), "SELECT name, role FROM tokens WHERE hash = ?");
    select.bindBlob(1, hash);
    const int step = select.step();
    if (step == SQLITE_ROW) {
        const Identity identity{select.text(0), storedRole(select.text(1)), true};
        db_.expectDone(select.step(), "cannot read the tokens");
        return identity;
    }
    db_.expectDone(step, "cannot read the tokens");
    return std::nullopt;
}

void SqliteAccountStore::touchToken(const SecretHash& hash, long long now) const {
    SqliteStatement touch(db_.handle(), "UPDATE tokens SET last_used = ? WHERE hash = ?");
    touch.bind(1, now).bindBlob(2, hash);
    db_.expectDone(touch.step(), "cannot mark a token as used");
}

bool SqliteAccountStore::deleteToken(const std::string& name, const AccountChange& change) {
    Transaction transaction(*this);
    SqliteStatement remove(db_.handle(), "DELETE FROM tokens WHERE name = ?");
    remove.bind(1, name);
    db_.expectDone(remove.step(), "cannot revoke a token");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
    record(change);
    transaction.commit();
    return true;
}

std::vector<TokenInfo> SqliteAccountStore::selectTokens() const {
    SqliteStatement select(db_.handle(),
                           "SELECT name, role, created, last_used FROM tokens ORDER BY name");
    std::vector<TokenInfo> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(TokenInfo{select.text(0), storedRole(select.text(1)), select.text(2),
                                 isoTime(select.integer(3))});
    }
    db_.expectDone(step, "cannot read the tokens");
    return list;
}

std::vector<KeptIdentity> SqliteAccountStore::selectIdentities() const {
    std::vector<KeptIdentity> kept;
    SqliteStatement tokens(db_.handle(), "SELECT hash, name, role, last_used FROM tokens");
    int step = 0;
    while ((step = tokens.step()) == SQLITE_ROW) {
        kept.push_back(KeptIdentity{tokens.blob(0),
                                    Identity{tokens.text(1), storedRole(tokens.text(2)), true},
                                    tokens.integer(3)});
    }
    db_.expectDone(step, "cannot read the tokens");
    SqliteStatement sessions(db_.handle(),
                             "SELECT sessions.hash, accounts.name, accounts.role, "
                             "sessions.last_used FROM sessions JOIN accounts ON accounts.name = "
                             "sessions.account");
    while ((step = sessions.step()) == SQLITE_ROW) {
        kept.push_back(KeptIdentity{sessions.blob(0),
                                    Identity{sessions.text(1), storedRole(sessions.text(2)), false},
                                    sessions.integer(3)});
    }
    db_.expectDone(step, "cannot read the sessions");
    return kept;
}

void SqliteAccountStore::addSession(const SecretHash& hash, const std::string& account,
                                    long long now, long long idleBefore,
                                    const std::string& address) {
    SqliteStatement idle(db_.handle(), "DELETE FROM sessions WHERE last_used < ?");
    idle.bind(1, idleBefore);
    db_.expectDone(idle.step(), "cannot end idle sessions");
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO sessions (hash, account, last_used, created, address) "
                           "VALUES (?, ?, ?, ?, ?)");
    insert.bindBlob(1, hash).bind(2, account).bind(3, now).bind(4, now).bind(5, address);
    db_.expectDone(insert.step(), "cannot open a session");
    SqliteStatement login(db_.handle(), "UPDATE accounts SET last_login = ? WHERE name = ?");
    login.bind(1, now).bind(2, account);
    db_.expectDone(login.step(), "cannot note a login");
}

void SqliteAccountStore::insertSession(const SecretHash& hash, const std::string& account,
                                       long long now, long long idleBefore,
                                       const std::string& address) {
    Transaction transaction(*this);
    addSession(hash, account, now, idleBefore, address);
    transaction.commit();
}

std::vector<SqliteAccountStore::SessionRow> SqliteAccountStore::selectSessions(
    const std::string& account) const {
    SqliteStatement select(db_.handle(),
                           "SELECT hash, created, last_used, address FROM sessions "
                           "WHERE account = ? ORDER BY created, hash");
    select.bind(1, account);
    std::vector<SessionRow> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(
            SessionRow{select.blob(0), select.integer(1), select.integer(2), select.text(3)});
    }
    db_.expectDone(step, "cannot read the sessions");
    return list;
}

int SqliteAccountStore::deleteSessions(const std::string& account,
                                       const std::vector<SecretHash>& hashes,
                                       const SecretHash* keep, const AccountChange& change) {
    Transaction transaction(*this);
    int ended = 0;
    const auto remove = [&](const SecretHash* only) {
        SqliteStatement statement(db_.handle(),
                                  "DELETE FROM sessions WHERE account = ? AND hash IS NOT ? "
                                  "AND (? IS NULL OR hash = ?)");
        statement.bind(1, account);
        if (keep != nullptr) {
            statement.bindBlob(2, *keep);
        }
        if (only != nullptr) {
            statement.bindBlob(3, *only).bindBlob(4, *only);
        }
        db_.expectDone(statement.step(), "cannot end sessions");
        ended += sqlite3_changes(db_.handle());
    };
    if (hashes.empty()) {
        remove(nullptr);
    }
    for (const SecretHash& hash : hashes) {
        remove(&hash);
    }
    if (ended > 0) {
        record(change);
    }
    transaction.commit();
    return ended;
}

std::optional<SqliteAccountStore::SessionRecord> SqliteAccountStore::selectSession(
    const SecretHash& hash) const {
    SqliteStatement select(db_.handle(),
                           "SELECT accounts.name, accounts.role, sessions.last_used "
                           "FROM sessions JOIN accounts ON accounts.name = sessions.account "
                           "WHERE sessions.hash = ?");
    select.bindBlob(1, hash);
    const int step = select.step();
    if (step != SQLITE_ROW) {
        db_.expectDone(step, "cannot read the sessions");
        return std::nullopt;
    }
    const SessionRecord found{Identity{select.text(0), storedRole(select.text(1)), false},
                              select.integer(2)};
    db_.expectDone(select.step(), "cannot read the sessions");
    return found;
}

void SqliteAccountStore::touchSession(const SecretHash& hash, long long now) {
    SqliteStatement touch(db_.handle(), "UPDATE sessions SET last_used = ? WHERE hash = ?");
    touch.bind(1, now).bindBlob(2, hash);
    db_.expectDone(touch.step(), "cannot mark a session as used");
}

void SqliteAccountStore::deleteSession(const SecretHash& hash) {
    SqliteStatement remove(db_.handle(), "DELETE FROM sessions WHERE hash = ?");
    remove.bindBlob(1, hash);
    db_.expectDone(remove.step(), "cannot end a session");
}

std::optional<Identity> SqliteAccountStore::accountIdentity(const std::string& name) const {
    SqliteStatement select(db_.handle(), "SELECT name, role FROM accounts WHERE name = ?");
    select.bind(1, name);
    const int step = select.step();
    if (step == SQLITE_ROW) {
        const Identity identity{select.text(0), storedRole(select.text(1)), false};
        db_.expectDone(select.step(), "cannot read the accounts");
        return identity;
    }
    db_.expectDone(step, "cannot read the accounts");
    return std::nullopt;
}

void SqliteAccountStore::voidOnceLogins() {
    SqliteStatement remove(db_.handle(), "DELETE FROM once_logins");
    db_.expectDone(remove.step(), "cannot void the one-time logins");
}

bool SqliteAccountStore::replaceOnceLogin(const std::string& name, const SecretHash& hash,
                                          long long expires) {
    Transaction transaction(*this);
    const std::optional<Identity> identity = accountIdentity(name);
    if (!identity) {
        return false;
    }
    voidOnceLogins();
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO once_logins (hash, account, expires) VALUES (?, ?, ?)");
    insert.bindBlob(1, hash).bind(2, identity->name).bind(3, expires);
    db_.expectDone(insert.step(), "cannot add a one-time login");
    transaction.commit();
    return true;
}

std::optional<Identity> SqliteAccountStore::useOnceLogin(const SecretHash& hash,
                                                         const SecretHash& session, long long now,
                                                         long long idleBefore,
                                                         const std::string& address) {
    Transaction transaction(*this);
    SqliteStatement select(db_.handle(), "SELECT account, expires FROM once_logins WHERE hash = ?");
    select.bindBlob(1, hash);
    const int step = select.step();
    if (step != SQLITE_ROW) {
        db_.expectDone(step, "cannot read the one-time logins");
        return std::nullopt;
    }
    const std::string account = select.text(0);
    const long long expires = select.integer(1);
    db_.expectDone(select.step(), "cannot read the one-time logins");
    // Used up whatever follows: a second use, even of an expired secret,
    // finds nothing.
    SqliteStatement remove(db_.handle(), "DELETE FROM once_logins WHERE hash = ?");
    remove.bindBlob(1, hash);
    db_.expectDone(remove.step(), "cannot use up a one-time login");
    std::optional<Identity> identity = accountIdentity(account);
    if (identity && now <= expires && !selectAnyPassword()) {
        addSession(session, identity->name, now, idleBefore, address);
    } else {
        identity.reset();
    }
    transaction.commit();
    return identity;
}

std::vector<AccountChange> SqliteAccountStore::selectChanges(long long before, int limit) const {
    SqliteStatement select(db_.handle(),
                           "SELECT id, time, actor, address, action, subject, detail "
                           "FROM account_changes WHERE ? = 0 OR id < ? ORDER BY id DESC LIMIT ?");
    select.bind(1, before).bind(2, before).bind(3, static_cast<long long>(limit));
    std::vector<AccountChange> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(AccountChange{select.integer(0), select.text(1), select.text(2),
                                     select.text(3), select.text(4), select.text(5),
                                     select.text(6)});
    }
    db_.expectDone(step, "cannot read the account changes");
    return list;
}

}  // namespace panelhost
