#include "AccountStore.h"

#include <sodium.h>
#include <sqlite3.h>

#include <array>
#include <ctime>
#include <utility>

#include "SqliteStatement.h"

namespace panelhost {
namespace {

// Random bytes in every token, session id and one-time secret: 256 bits,
// beyond guessing however fast the guesses come.
constexpr std::size_t kSecretBytes = 32;
// Length of the kept hashes of those secrets (BLAKE2b-256).
constexpr std::size_t kSecretHashBytes = 32;
// A command line account change waits this long for the running host's
// write to end; those take milliseconds.
constexpr int kBusyTimeoutMs = 5000;
// A session's last use is written again only when it is older than this, so
// that a busy client does not turn every read into a write of the data file.
constexpr long long kTouchSeconds = 60;
// Bytes of a token's hash that name an unnamed token.
constexpr std::size_t kTokenNameHashBytes = 4;

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

// A fresh secret: kSecretBytes from the system's random source, as
// URL-safe base64 without padding (fits a cookie, a header and a URL).
std::string randomSecret() {
    std::array<unsigned char, kSecretBytes> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    constexpr int kVariant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::string text(sodium_base64_ENCODED_LEN(kSecretBytes, kVariant), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), kVariant);
    text.resize(text.find('\0'));
    sodium_memzero(bytes.data(), bytes.size());
    return text;
}

// The kept form of a token, session id or one-time secret. A fast hash is
// right here, unlike for passwords: the secrets are 256 random bits, so a
// stolen hash cannot be reversed by guessing, and a fast, unsalted hash
// lets every request find its secret by an index lookup.
std::vector<unsigned char> secretHash(const std::string& secret) {
    std::vector<unsigned char> hash(kSecretHashBytes);
    crypto_generichash(hash.data(), hash.size(),
                       reinterpret_cast<const unsigned char*>(secret.data()), secret.size(),
                       nullptr, 0);
    return hash;
}

// Argon2id with libsodium's "interactive" limits (2 passes, 64 MiB): about
// a tenth of a second per login on a small studio machine. The "moderate"
// limits (256 MiB, ~0.7 s) would make a handful of tablets logging in at
// once after a restart take gigabytes and seconds; online guessing is
// slowed by the login limiter instead, and 64 MiB per guess still makes a
// stolen data file expensive to attack.
std::string passwordHash(const std::string& password) {
    std::array<char, crypto_pwhash_STRBYTES> hash{};
    if (crypto_pwhash_str_alg(
            hash.data(), password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
        throw std::runtime_error("not enough memory to hash a password");
    }
    return std::string(hash.data());
}

bool passwordMatches(const std::string& hash, const std::string& password) {
    return !hash.empty() &&
           crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

// Checked against when a name is unknown, so that the answer takes as long
// as for a known one and does not tell which names exist.
const std::string& decoyHash() {
    static const std::string hash = passwordHash(randomSecret());
    return hash;
}

void checkName(const std::string& name, const char* what) {
    if (name.empty() || name.size() > AccountStore::kLongestName) {
        throw AccountError(std::string(what) + " names have 1 to " +
                           std::to_string(AccountStore::kLongestName) + " characters");
    }
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!allowed) {
            throw AccountError(std::string(what) + " name \"" + name +
                               "\" may hold only letters, digits, '.', '_' and '-'");
        }
    }
}

void checkPassword(const std::string& password) {
    if (password.size() < AccountStore::kShortestPassword) {
        throw AccountError("a password has at least " +
                           std::to_string(AccountStore::kShortestPassword) + " characters");
    }
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    std::array<char, sizeof "2024-05-01T09:30:00Z"> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text.data();
}

Role storedRole(const std::string& name) {
    return parseRole(name).value_or(Role::Viewer);
}

}  // namespace

// One write transaction (BEGIN IMMEDIATE), rolled back unless committed.
class AccountStore::Transaction {
  public:
    explicit Transaction(const AccountStore& store) : store_(store) {
        store_.execute("BEGIN IMMEDIATE");
    }
    ~Transaction() {
        if (!committed_) {
            sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit() {
        store_.execute("COMMIT");
        committed_ = true;
    }

  private:
    const AccountStore& store_;
    bool committed_ = false;
};

AccountStore::AccountStore(const std::filesystem::path& file, std::chrono::seconds sessionIdle,
                           Clock clock)
    : file_(file), sessionIdle_(sessionIdle), clock_(std::move(clock)) {
    if (sodium_init() < 0) {
        throw StoreError(file.string() + ": the cryptography library cannot start");
    }
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(file.string() + ": cannot be opened: " + reason);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        SqliteStatement id(db_, "PRAGMA application_id");
        const int step = id.step();
        if (step != SQLITE_ROW) {
            fail("cannot be read");
        }
        if (id.integer(0) != SqliteNameStore::kApplicationId) {
            throw StoreError(file.string() + ": is not a panelhost data file");
        }
        expectDone(id.step(), "cannot be read");
        execute("PRAGMA synchronous=FULL");
        createTables();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

AccountStore::~AccountStore() {
    sqlite3_close(db_);
}

void AccountStore::fail(const std::string& what) const {
    throw StoreError(file_.string() + ": " + what + ": " + sqlite3_errmsg(db_));
}

void AccountStore::execute(const char* sql) const {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(std::string("cannot run ") + sql);
    }
}

void AccountStore::expectDone(int step, const std::string& what) const {
    if (step != SQLITE_DONE) {
        fail(what);
    }
}

void AccountStore::createTables() {
    Transaction transaction(*this);
    execute(kTables);
    transaction.commit();
}

long long AccountStore::now() const {
    return std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
}

void AccountStore::addAccount(const std::string& name, Role role, const std::string& password) {
    checkName(name, "account");
    if (!password.empty()) {
        checkPassword(password);
    }
    const std::string hash = password.empty() ? std::string() : passwordHash(password);
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    SqliteStatement insert(db_,
                           "INSERT INTO accounts (name, role, password, created) "
                           "VALUES (?, ?, ?, ?) ON CONFLICT (name) DO NOTHING");
    insert.bind(1, name).bind(2, roleName(role)).bind(3, hash).bind(4, isoTime(clock_()));
    expectDone(insert.step(), "cannot add an account");
    if (sqlite3_changes(db_) == 0) {
        throw AccountError("an account named \"" + name + "\" exists already");
    }
    transaction.commit();
}

void AccountStore::removeAccount(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    SqliteStatement role(db_, "SELECT role FROM accounts WHERE name = ?");
    role.bind(1, name);
    const int found = role.step();
    if (found == SQLITE_DONE) {
        throw AccountError("there is no account named \"" + name + "\"");
    }
    if (found != SQLITE_ROW) {
        fail("cannot read the accounts");
    }
    const Role removed = storedRole(role.text(0));
    expectDone(role.step(), "cannot read the accounts");
    if (removed == Role::Admin) {
        SqliteStatement admins(db_, "SELECT count(*) FROM accounts WHERE role = 'admin'");
        if (admins.step() != SQLITE_ROW) {
            fail("cannot read the accounts");
        }
        const long long count = admins.integer(0);
        expectDone(admins.step(), "cannot read the accounts");
        if (count <= 1) {
            throw AccountError("\"" + name +
                               "\" is the last admin account and is kept; add another admin "
                               "first");
        }
    }
    for (const char* sql :
         {"DELETE FROM sessions WHERE account = ?", "DELETE FROM once_logins WHERE account = ?",
          "DELETE FROM accounts WHERE name = ?"}) {
        SqliteStatement remove(db_, sql);
        remove.bind(1, name);
        expectDone(remove.step(), "cannot remove an account");
    }
    transaction.commit();
}

void AccountStore::setPassword(const std::string& name, const std::string& password) {
    checkPassword(password);
    const std::string hash = passwordHash(password);
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    SqliteStatement update(db_, "UPDATE accounts SET password = ? WHERE name = ?");
    update.bind(1, hash).bind(2, name);
    expectDone(update.step(), "cannot set a password");
    if (sqlite3_changes(db_) == 0) {
        throw AccountError("there is no account named \"" + name + "\"");
    }
    SqliteStatement sessions(db_, "DELETE FROM sessions WHERE account = ?");
    sessions.bind(1, name);
    expectDone(sessions.step(), "cannot end the account's sessions");
    transaction.commit();
}

std::vector<Account> AccountStore::accounts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    SqliteStatement select(db_,
                           "SELECT name, role, password <> '', created FROM accounts "
                           "ORDER BY name");
    std::vector<Account> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(Account{select.text(0), storedRole(select.text(1)), select.integer(2) != 0,
                               select.text(3)});
    }
    expectDone(step, "cannot read the accounts");
    return list;
}

bool AccountStore::anyPassword() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    SqliteStatement select(db_, "SELECT EXISTS (SELECT 1 FROM accounts WHERE password <> '')");
    if (select.step() != SQLITE_ROW) {
        fail("cannot read the accounts");
    }
    const bool any = select.integer(0) != 0;
    expectDone(select.step(), "cannot read the accounts");
    return any;
}

std::optional<Identity> AccountStore::verifyPassword(const std::string& name,
                                                     const std::string& password) const {
    std::optional<Identity> identity;
    std::string hash;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        SqliteStatement select(db_, "SELECT name, role, password FROM accounts WHERE name = ?");
        select.bind(1, name);
        const int step = select.step();
        if (step == SQLITE_ROW) {
            identity = Identity{select.text(0), storedRole(select.text(1)), false};
            hash = select.text(2);
            expectDone(select.step(), "cannot read the accounts");
        } else {
            expectDone(step, "cannot read the accounts");
        }
    }
    // Hashed outside the lock: it takes a tenth of a second.
    if (!identity || hash.empty()) {
        passwordMatches(decoyHash(), password);
        return std::nullopt;
    }
    return passwordMatches(hash, password) ? identity : std::nullopt;
}

NewToken AccountStore::createToken(Role role, const std::string& name) {
    const std::string token = kTokenPrefix + randomSecret();
    const std::vector<unsigned char> hash = secretHash(token);
    std::string tokenName = name;
    if (tokenName.empty()) {
        std::array<char, 2 * kTokenNameHashBytes + 1> hex{};
        sodium_bin2hex(hex.data(), hex.size(), hash.data(), kTokenNameHashBytes);
        tokenName = roleName(role) + "-" + hex.data();
    }
    checkName(tokenName, "token");
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    SqliteStatement insert(db_,
                           "INSERT INTO tokens (name, role, hash, created) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT (name) DO NOTHING");
    insert.bind(1, tokenName).bind(2, roleName(role)).bindBlob(3, hash);
    insert.bind(4, isoTime(clock_()));
    expectDone(insert.step(), "cannot add a token");
    if (sqlite3_changes(db_) == 0) {
        throw AccountError("a token named \"" + tokenName + "\" exists already");
    }
    transaction.commit();
    return NewToken{tokenName, token};
}

std::optional<Identity> AccountStore::verifyToken(const std::string& token) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    SqliteStatement select(db_, "SELECT name, role FROM tokens WHERE hash = ?");
    select.bindBlob(1, secretHash(token));
    const int step = select.step();
    if (step == SQLITE_ROW) {
        const Identity identity{select.text(0), storedRole(select.text(1)), true};
        expectDone(select.step(), "cannot read the tokens");
        return identity;
    }
    expectDone(step, "cannot read the tokens");
    return std::nullopt;
}

void AccountStore::revokeToken(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    SqliteStatement remove(db_, "DELETE FROM tokens WHERE name = ?");
    remove.bind(1, name);
    expectDone(remove.step(), "cannot revoke a token");
    if (sqlite3_changes(db_) == 0) {
        throw AccountError("there is no token named \"" + name + "\"");
    }
    transaction.commit();
}

std::vector<TokenInfo> AccountStore::tokens() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    SqliteStatement select(db_, "SELECT name, role, created FROM tokens ORDER BY name");
    std::vector<TokenInfo> list;
    int step = 0;
    while ((step = select.step()) == SQLITE_ROW) {
        list.push_back(TokenInfo{select.text(0), storedRole(select.text(1)), select.text(2)});
    }
    expectDone(step, "cannot read the tokens");
    return list;
}

NewSession AccountStore::openSession(const Identity& identity) {
    // Sessions nobody came back to would otherwise stay forever.
    SqliteStatement idle(db_, "DELETE FROM sessions WHERE last_used < ?");
    idle.bind(1, now() - sessionIdle_.count());
    expectDone(idle.step(), "cannot end idle sessions");
    NewSession opened{randomSecret(), identity};
    SqliteStatement insert(db_, "INSERT INTO sessions (hash, account, last_used) VALUES (?, ?, ?)");
    insert.bindBlob(1, secretHash(opened.id)).bind(2, identity.name).bind(3, now());
    expectDone(insert.step(), "cannot open a session");
    return opened;
}

std::optional<NewSession> AccountStore::login(const std::string& name,
                                              const std::string& password) {
    const std::optional<Identity> identity = verifyPassword(name, password);
    if (!identity) {
        return std::nullopt;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    NewSession opened = openSession(*identity);
    transaction.commit();
    return opened;
}

std::optional<Identity> AccountStore::session(const std::string& id) {
    const std::vector<unsigned char> hash = secretHash(id);
    const long long current = now();
    const std::lock_guard<std::mutex> lock(mutex_);
    SqliteStatement select(db_,
                           "SELECT accounts.name, accounts.role, sessions.last_used "
                           "FROM sessions JOIN accounts ON accounts.name = sessions.account "
                           "WHERE sessions.hash = ?");
    select.bindBlob(1, hash);
    const int step = select.step();
    if (step != SQLITE_ROW) {
        expectDone(step, "cannot read the sessions");
        return std::nullopt;
    }
    const Identity identity{select.text(0), storedRole(select.text(1)), false};
    const long long lastUsed = select.integer(2);
    expectDone(select.step(), "cannot read the sessions");
    if (current - lastUsed > sessionIdle_.count()) {
        SqliteStatement remove(db_, "DELETE FROM sessions WHERE hash = ?");
        remove.bindBlob(1, hash);
        expectDone(remove.step(), "cannot end an idle session");
        return std::nullopt;
    }
    if (current - lastUsed >= kTouchSeconds) {
        SqliteStatement touch(db_, "UPDATE sessions SET last_used = ? WHERE hash = ?");
        touch.bind(1, current).bindBlob(2, hash);
        expectDone(touch.step(), "cannot mark a session as used");
    }
    return identity;
}

void AccountStore::logout(const std::string& id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    SqliteStatement remove(db_, "DELETE FROM sessions WHERE hash = ?");
    remove.bindBlob(1, secretHash(id));
    expectDone(remove.step(), "cannot end a session");
}

std::optional<Identity> AccountStore::accountIdentity(const std::string& name) const {
    SqliteStatement select(db_, "SELECT name, role FROM accounts WHERE name = ?");
    select.bind(1, name);
    const int step = select.step();
    if (step == SQLITE_ROW) {
        const Identity identity{select.text(0), storedRole(select.text(1)), false};
        expectDone(select.step(), "cannot read the accounts");
        return identity;
    }
    expectDone(step, "cannot read the accounts");
    return std::nullopt;
}

std::string AccountStore::issueOnceLogin(const std::string& name) {
    const std::string secret = randomSecret();
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    const std::optional<Identity> identity = accountIdentity(name);
    if (!identity) {
        throw AccountError("there is no account named \"" + name + "\"");
    }
    SqliteStatement earlier(db_, "DELETE FROM once_logins WHERE account = ?");
    earlier.bind(1, identity->name);
    expectDone(earlier.step(), "cannot replace a one-time login");
    SqliteStatement insert(db_,
                           "INSERT INTO once_logins (hash, account, expires) VALUES (?, ?, ?)");
    insert.bindBlob(1, secretHash(secret))
        .bind(2, identity->name)
        .bind(3, now() + kOnceLoginLifetime.count());
    expectDone(insert.step(), "cannot add a one-time login");
    transaction.commit();
    return secret;
}

std::optional<NewSession> AccountStore::loginOnce(const std::string& secret) {
    const std::vector<unsigned char> hash = secretHash(secret);
    const std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(*this);
    SqliteStatement select(db_, "SELECT account, expires FROM once_logins WHERE hash = ?");
    select.bindBlob(1, hash);
    const int step = select.step();
    if (step != SQLITE_ROW) {
        expectDone(step, "cannot read the one-time logins");
        return std::nullopt;
    }
    const std::string account = select.text(0);
    const long long expires = select.integer(1);
    expectDone(select.step(), "cannot read the one-time logins");
    // Used up whatever follows: a second use, even of an expired secret,
    // finds nothing.
    SqliteStatement remove(db_, "DELETE FROM once_logins WHERE hash = ?");
    remove.bindBlob(1, hash);
    expectDone(remove.step(), "cannot use up a one-time login");
    const std::optional<Identity> identity = accountIdentity(account);
    std::optional<NewSession> opened;
    if (identity && now() <= expires) {
        opened = openSession(*identity);
    }
    transaction.commit();
    return opened;
}

}  // namespace panelhost
