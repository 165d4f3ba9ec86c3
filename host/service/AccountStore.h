#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Role.h"
#include "SqliteNameStore.h"

struct sqlite3;

namespace panelhost {

// A request about accounts that cannot be carried out (a name taken or
// unknown, a name or password that is not acceptable); nothing changed.
// what() says why, for the person who asked.
class AccountError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One account as listed: never its password or hash.
struct Account {
    std::string name;
    Role role = Role::Viewer;
    bool hasPassword = false;
    std::string created;  // UTC, ISO 8601
};

// One API token as listed: never the token or its hash.
struct TokenInfo {
    std::string name;
    Role role = Role::Viewer;
    std::string created;  // UTC, ISO 8601
};

// Who a request comes from: an account (by password, session or one-time
// login) or an API token.
struct Identity {
    std::string name;
    Role role = Role::Viewer;
    bool token = false;

    // For the history and the log: "NAME" or "token NAME".
    std::string who() const { return token ? "token " + name : name; }
};

// A token just created: `token` is shown once and kept only as a hash.
struct NewToken {
    std::string name;
    std::string token;
};

// A session just opened: `id` is the secret for the client's cookie and is
// not kept anywhere in clear.
struct NewSession {
    std::string id;
    Identity identity;
};

// The accounts, API tokens, sessions and one-time logins of a panelhost, in
// tables of their own in the data file that SqliteNameStore creates (the file must
// exist and be a panelhost data file). Several AccountStores, also in other
// processes, may use the same file at once: every change is one committed
// transaction (write-ahead log, synchronous FULL), so `panelhost user ...`
// works while the host runs. Passwords are kept only as Argon2id hashes;
// tokens, session ids and one-time secrets only as BLAKE2b hashes. No method
// logs or keeps a secret. Thread-safe: the HTTP threads may share one store.
class AccountStore {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // A session unused for this long is over. Long enough for a panel left
    // open on a tablet through a studio day.
    static constexpr std::chrono::seconds kDefaultSessionIdle{12 * 60 * 60};
    // A one-time login link works this long: enough to open the link the
    // console printed, too short for one left in scroll-back or a shared
    // screenshot to matter later.
    static constexpr std::chrono::seconds kOnceLoginLifetime{15 * 60};
    // Fewest characters of a password: short ones fall to guessing.
    static constexpr std::size_t kShortestPassword = 8;
    // Most characters of an account or token name.
    static constexpr std::size_t kLongestName = 64;
    // Prefix of every API token, so that one pasted somewhere is recognised.
    static constexpr const char* kTokenPrefix = "pht_";

    // Opens the account tables of `file`, creating them when missing. Throws
    // StoreError for a missing file, one that is not a panelhost data file,
    // or one that cannot be read or written.
    explicit AccountStore(const std::filesystem::path& file,
                          std::chrono::seconds sessionIdle = kDefaultSessionIdle,
                          Clock clock = std::chrono::system_clock::now);
    ~AccountStore();

    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Adds an account; an empty password leaves it without one (it can then
    // only log in through a one-time login). Throws AccountError for a name
    // that is taken or not acceptable, or a password shorter than
    // kShortestPassword.
    void addAccount(const std::string& name, Role role, const std::string& password);
    // Removes an account with its sessions and one-time logins. Throws
    // AccountError for an unknown name and for the last admin account.
    void removeAccount(const std::string& name);
    // Sets a new password and ends the account's sessions. Throws
    // AccountError for an unknown name or a password that is too short.
    void setPassword(const std::string& name, const std::string& password);
    std::vector<Account> accounts() const;
    // Whether any account has a password.
    bool anyPassword() const;

    // The account, when the password is its password; nothing otherwise,
    // and for an unknown name after the same work as for a known one.
    std::optional<Identity> verifyPassword(const std::string& name,
                                           const std::string& password) const;

    // A new API token with `role`. An empty `name` gets one made from the
    // role and the token's hash. Throws AccountError for a name that is
    // taken or not acceptable.
    NewToken createToken(Role role, const std::string& name);
    std::optional<Identity> verifyToken(const std::string& token) const;
    // Throws AccountError for an unknown name.
    void revokeToken(const std::string& name);
    std::vector<TokenInfo> tokens() const;

    // Opens a session when the password is right.
    std::optional<NewSession> login(const std::string& name, const std::string& password);
    // Who the session belongs to; nothing for an unknown session or one idle
    // for longer than the session idle time (it is deleted then). Marks it
    // as used.
    std::optional<Identity> session(const std::string& id);
    // Ends the session; an unknown one is no error.
    void logout(const std::string& id);

    // A one-time login secret for the account, replacing its earlier ones;
    // valid for kOnceLoginLifetime and for one use. Throws AccountError for
    // an unknown name.
    std::string issueOnceLogin(const std::string& name);
    // Opens a session and uses the secret up; nothing for an unknown, used
    // or expired secret.
    std::optional<NewSession> loginOnce(const std::string& secret);

    const std::filesystem::path& file() const { return file_; }

  private:
    class Transaction;

    void createTables();
    std::optional<Identity> accountIdentity(const std::string& name) const;
    NewSession openSession(const Identity& identity);
    long long now() const;
    [[noreturn]] void fail(const std::string& what) const;
    void execute(const char* sql) const;
    void expectDone(int step, const std::string& what) const;

    std::filesystem::path file_;
    std::chrono::seconds sessionIdle_;
    Clock clock_;
    sqlite3* db_ = nullptr;
    mutable std::mutex mutex_;
};

}  // namespace panelhost
