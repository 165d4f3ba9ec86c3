#include "SqliteAccountStore.h"

#include <sqlite3.h>

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
)sql";

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
    db_.transaction("BEGIN IMMEDIATE", [&] { db_.execute(kTables); });
}

bool SqliteAccountStore::insertAccount(const std::string& name, Role role, const std::string& hash,
                                       const std::string& created) {
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
    transaction.commit();
    return true;
}

bool SqliteAccountStore::insertFirstAccount(const std::string& name, Role role,
                                            const std::string& created) {
    // BEGIN IMMEDIATE takes the file's write lock first, so the check and
    // the insert see no other writer in between.
    Transaction transaction(*this);
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO accounts (name, role, password, created) "
                           "SELECT ?, ?, '', ? WHERE NOT EXISTS (SELECT 1 FROM accounts)");
    insert.bind(1, name).bind(2, roleName(role)).bind(3, created);
    db_.expectDone(insert.step(), "cannot add an account");
    const bool added = sqlite3_changes(db_.handle()) != 0;
    transaction.commit();
    return added;
}

SqliteAccountStore::Removal SqliteAccountStore::deleteAccount(const std::string& name) {
    Transaction transaction(*this);
    SqliteStatement role(db_.handle(), "SELECT role FROM accounts WHERE name = ?");
    role.bind(1, name);
    const int found = role.step();
    if (found == SQLITE_DONE) {
        return Removal::Unknown;
    }
    if (found != SQLITE_ROW) {
        db_.fail("cannot read the accounts");
    }
    const Role removed = storedRole(role.text(0));
    db_.expectDone(role.step(), "cannot read the accounts");
    if (removed == Role::Admin) {
        SqliteStatement admins(db_.handle(), "SELECT count(*) FROM accounts WHERE role = 'admin'");
        if (admins.step() != SQLITE_ROW) {
            db_.fail("cannot read the accounts");
        }
        const long long count = admins.integer(0);
        db_.expectDone(admins.step(), "cannot read the accounts");
        if (count <= 1) {
            return Removal::LastAdmin;
        }
    }
    for (const char* sql :
         {"DELETE FROM sessions WHERE account = ?", "DELETE FROM once_logins WHERE account = ?",
          "DELETE FROM accounts WHERE name = ?"}) {
        SqliteStatement remove(db_.handle(), sql);
        remove.bind(1, name);
        db_.expectDone(remove.step(), "cannot remove an account");
    }
    transaction.commit();
    return Removal::Removed;
}

bool SqliteAccountStore::updatePassword(const std::string& name, const std::string& hash) {
    Transaction transaction(*this);
    SqliteStatement update(db_.handle(), "UPDATE accounts SET password = ? WHERE name = ?");
    update.bind(1, hash).bind(2, name);
    db_.expectDone(update.step(), "cannot set a password");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
    SqliteStatement sessions(db_.handle(), "DELETE FROM sessions WHERE account = ?");
    sessions.bind(1, name);
    db_.expectDone(sessions.step(), "cannot end the account's sessions");
    voidOnceLogins();
    transaction.commit();
    return true;
}

std::vector<Account> SqliteAccountStore::selectAccounts() const {
    SqliteStatement select(db_.handle(),
                           "SELECT name, role, password <> '', created FROM accounts "
                           "ORDER BY name");
    std::vector<Account> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(Account{select.text(0), storedRole(select.text(1)), select.integer(2) != 0,
                               select.text(3)});
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
                                     const std::string& created) {
    Transaction transaction(*this);
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO tokens (name, role, hash, created) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT (name) DO NOTHING");
    insert.bind(1, name).bind(2, roleName(role)).bindBlob(3, hash).bind(4, created);
    db_.expectDone(insert.step(), "cannot add a token");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
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

bool SqliteAccountStore::deleteToken(const std::string& name) {
    Transaction transaction(*this);
    SqliteStatement remove(db_.handle(), "DELETE FROM tokens WHERE name = ?");
    remove.bind(1, name);
    db_.expectDone(remove.step(), "cannot revoke a token");
    if (sqlite3_changes(db_.handle()) == 0) {
        return false;
    }
    transaction.commit();
    return true;
}

std::vector<TokenInfo> SqliteAccountStore::selectTokens() const {
    SqliteStatement select(db_.handle(), "SELECT name, role, created FROM tokens ORDER BY name");
    std::vector<TokenInfo> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(TokenInfo{select.text(0), storedRole(select.text(1)), select.text(2)});
    }
    db_.expectDone(step, "cannot read the tokens");
    return list;
}

std::vector<KeptIdentity> SqliteAccountStore::selectIdentities() const {
    std::vector<KeptIdentity> kept;
    SqliteStatement tokens(db_.handle(), "SELECT hash, name, role FROM tokens");
    int step = 0;
    while ((step = tokens.step()) == SQLITE_ROW) {
        kept.push_back(KeptIdentity{tokens.blob(0),
                                    Identity{tokens.text(1), storedRole(tokens.text(2)), true}, 0});
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
                                    long long now, long long idleBefore) {
    SqliteStatement idle(db_.handle(), "DELETE FROM sessions WHERE last_used < ?");
    idle.bind(1, idleBefore);
    db_.expectDone(idle.step(), "cannot end idle sessions");
    SqliteStatement insert(db_.handle(),
                           "INSERT INTO sessions (hash, account, last_used) VALUES (?, ?, ?)");
    insert.bindBlob(1, hash).bind(2, account).bind(3, now);
    db_.expectDone(insert.step(), "cannot open a session");
}

void SqliteAccountStore::insertSession(const SecretHash& hash, const std::string& account,
                                       long long now, long long idleBefore) {
    Transaction transaction(*this);
    addSession(hash, account, now, idleBefore);
    transaction.commit();
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
                                                         long long idleBefore) {
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
        addSession(session, identity->name, now, idleBefore);
    } else {
        identity.reset();
    }
    transaction.commit();
    return identity;
}

}  // namespace panelhost
