#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Identity.h"
#include "RememberedIdentities.h"
#include "Role.h"
#include "StoreError.h"

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
    std::string created;    // UTC, ISO 8601
    std::string lastLogin;  // UTC, ISO 8601; empty when it never logged in
};

// One API token as listed: never the token or its hash.
struct TokenInfo {
    std::string name;
    Role role = Role::Viewer;
    std::string created;   // UTC, ISO 8601
    std::string lastUsed;  // UTC, ISO 8601, to a minute; empty when never used
};

// Who makes a change of the accounts, and from where, as the history
// records it: "alice" from "192.0.2.7", "token deploy" from an address, or
// the command line on the host. The default is the host program itself
// (its first start, its tests).
struct Actor {
    std::string who = "panelhost";
    std::string address = "local";
};

// One change of the accounts or tokens as the history keeps it: who made
// it, from where, what (`action`, one of the kChange... names), on which
// account or token, and a detail such as "from operator to engineer".
// Never a password, token, session id or any hash of one.
struct AccountChange {
    long long id = 0;
    std::string time;  // UTC, ISO 8601
    std::string actor;
    std::string address;
    std::string action;
    std::string subject;
    std::string detail;
};

// One open session of an account as listed: `id` names it for ending it
// and is no secret (a few bytes of the kept hash of its secret, which
// cannot be turned back into the secret); `current` marks the session of
// the request that asked.
struct SessionInfo {
    std::string id;
    std::string created;   // UTC, ISO 8601
    std::string lastUsed;  // UTC, ISO 8601, to a minute
    std::string address;   // where it logged in from
    bool current = false;
};

// A token just created: `token` is shown once and kept only as a hash.
struct NewToken {
    std::string name;
    std::string token;
};

// A token or session as kept, for checking it in memory (IdentityTable):
// the kept hash of its secret, whose it is (a session with its account's
// role now) and when it was last used, as written down.
struct KeptIdentity {
    std::vector<unsigned char> hash;
    Identity identity;
    long long lastUsed = 0;  // seconds since the epoch; 0: never
};

// A session just opened: `id` is the secret for the client's cookie and is
// not kept anywhere in clear.
struct NewSession {
    std::string id;
    Identity identity;
};

// The accounts, API tokens, sessions and one-time logins of a panelhost, and
// the rules on them: names, password lengths, the last admin, idle sessions,
// one-time logins that work once. Where they are kept is a backend's matter
// (SqliteAccountStore: the data file; PostgresAccountStore: a database that
// several hosts share); every change is one committed transaction there, so
// `panelhost user ...` works while hosts run. Passwords are kept only as
// Argon2id hashes; tokens, session ids and one-time secrets only as BLAKE2b
// hashes, all made here and nowhere else. No method logs or keeps a secret.
// A store that cannot be read or written throws StoreError, so that nobody
// is let in on a guess; only a token or session that the store verified
// within kIdentityGrace is still answered then, from memory and marked
// Identity::remembered, until the store answers again. Thread-safe: the
// HTTP threads may share one store; every call to the backend runs under
// the store's lock.
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
    // How long after the store last verified a token or session it is still
    // accepted while the store cannot be reached: long enough to ride out a
    // database server's restart or failover with the panels and scripts
    // still reading, short enough that a token revoked or a session ended on
    // another host just before the outage is not honoured here for long.
    static constexpr std::chrono::seconds kIdentityGrace{15 * 60};

    // The actions of AccountChange.
    static constexpr const char* kAccountAdded = "account-added";
    static constexpr const char* kAccountRemoved = "account-removed";
    static constexpr const char* kRoleChanged = "role-changed";
    static constexpr const char* kPasswordSet = "password-set";
    static constexpr const char* kPasswordChanged = "password-changed";
    static constexpr const char* kSessionsEnded = "sessions-ended";
    static constexpr const char* kTokenCreated = "token-created";
    static constexpr const char* kTokenRevoked = "token-revoked";

    virtual ~AccountStore() = default;

    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Every change below that changes anything is recorded in the history
    // as made `by`, in the change's own transaction: none is kept without
    // its record, and no record tells of a change that was not kept.

    // Adds an account; an empty password leaves it without one (it can then
    // only log in through a one-time login). With a password it voids every
    // one-time login, like setPassword(). Throws AccountError for a name
    // that is taken or not acceptable, or a password shorter than
    // kShortestPassword.
    void addAccount(const std::string& name, Role role, const std::string& password,
                    const Actor& by = {});
    // Adds `name` as an admin account without a password when no account
    // exists at all; the check and the addition are one transaction, so of
    // several hosts starting at once on one store exactly one adds it.
    // Whether this call added it.
    bool addFirstAdmin(const std::string& name);
    // Removes an account with its sessions and one-time logins. Throws
    // AccountError for an unknown name and for the last admin account.
    void removeAccount(const std::string& name, const Actor& by = {});
    // Sets a new password, ends the account's sessions and voids every
    // one-time login: those are for a store without passwords only. Throws
    // AccountError for an unknown name or a password that is too short.
    void setPassword(const std::string& name, const std::string& password, const Actor& by = {});
    // The account's own change of its password: `oldPassword` must be its
    // password (any text while it has none, as after a one-time login).
    // Ends the account's other sessions, keeps `keepSession` (the session
    // of the request; may be empty) and voids every one-time login. False,
    // changing nothing, when the old password is wrong; throws AccountError
    // for an unknown name or a new password that is too short.
    bool changeOwnPassword(const std::string& name, const std::string& oldPassword,
                           const std::string& newPassword, const std::string& keepSession,
                           const Actor& by);
    // Gives the account another role, effective at its next request: its
    // sessions stay open. Throws AccountError for an unknown name and when
    // the last admin would be left without the admin role; the check and
    // the change are one transaction, so two admins demoting each other at
    // once leave one of them an admin. A role it holds already is no
    // change and is not recorded.
    void setRole(const std::string& name, Role role, const Actor& by = {});
    std::vector<Account> accounts() const;
    // Whether any account has a password.
    bool anyPassword() const;

    // The account's open sessions, oldest first, `current` marking the one
    // whose secret is `currentSession`. Throws AccountError for an unknown
    // name.
    std::vector<SessionInfo> sessions(const std::string& name,
                                      const std::string& currentSession = "") const;
    // Ends the account's session listed with `id`; false when it has none
    // such (ended already, or never).
    bool endSession(const std::string& name, const std::string& id, const Actor& by);
    // Ends every session of the account but `keepSession` (a session's
    // secret; empty: ends them all); how many it ended.
    int endSessions(const std::string& name, const std::string& keepSession, const Actor& by);

    // The recorded account changes, newest first: at most `limit`, only
    // those before the change `before` when it is not 0.
    std::vector<AccountChange> changes(long long before, int limit) const;

    // The account, when the password is its password; nothing otherwise,
    // and for an unknown name after the same work as for a known one.
    std::optional<Identity> verifyPassword(const std::string& name,
                                           const std::string& password) const;

    // A new API token with `role`. An empty `name` gets one made from the
    // role and the token's hash. Throws AccountError for a name that is
    // taken or not acceptable.
    NewToken createToken(Role role, const std::string& name, const Actor& by = {});
    // The token's identity; nothing for an unknown or revoked token. While
    // the store cannot be reached, the identity it verified for the token
    // within kIdentityGrace (remembered), or StoreError.
    std::optional<Identity> verifyToken(const std::string& token) const;
    // Throws AccountError for an unknown name.
    void revokeToken(const std::string& name, const Actor& by = {});
    std::vector<TokenInfo> tokens() const;

    // Opens a session when the password is right; `address` is where the
    // client is, for the account's list of sessions.
    std::optional<NewSession> login(const std::string& name, const std::string& password,
                                    const std::string& address = "");
    // Who the session belongs to; nothing for an unknown session or one idle
    // for longer than the session idle time (it is deleted then). Marks it
    // as used. While the store cannot be reached, as verifyToken().
    std::optional<Identity> session(const std::string& id);
    // Ends the session; an unknown one is no error.
    void logout(const std::string& id);

    // A one-time login secret for the account, voiding every earlier one of
    // any account, so that only the newest works; valid for
    // kOnceLoginLifetime, for one use, and only while no account has a
    // password. Throws AccountError for an unknown name.
    std::string issueOnceLogin(const std::string& name);
    // Opens a session and uses the secret up; nothing for an unknown, used
    // or expired secret, and for any once some account has a password.
    std::optional<NewSession> loginOnce(const std::string& secret, const std::string& address = "");

    // Every API token and session as kept now, read in one go; throws
    // StoreError when the store cannot be read.
    std::vector<KeptIdentity> identities() const;
    // The kept form of a token or session id: the key of identities().
    static std::vector<unsigned char> keptHash(const std::string& secret);
    // How long a session may go unused (see kDefaultSessionIdle).
    std::chrono::seconds sessionIdle() const { return sessionIdle_; }

    // Where the accounts are kept, for messages: a file or a database.
    virtual std::string location() const = 0;

  protected:
    // The kept form of a token, session id or one-time secret.
    using SecretHash = std::vector<unsigned char>;

    // A session as kept: whose it is and when it was last used.
    struct SessionRecord {
        Identity identity;
        long long lastUsed = 0;  // seconds since the epoch
    };
    enum class Removal { Removed, Unknown, LastAdmin };
    // How a role change went, and the role the account held before.
    struct RoleUpdate {
        Removal outcome = Removal::Unknown;  // Removed: changed
        Role was = Role::Viewer;
    };
    // A session as listed to its account's admin.
    struct SessionRow {
        SecretHash hash;
        long long created = 0;  // seconds since the epoch
        long long lastUsed = 0;
        std::string address;
    };

    // Throws StoreError when the cryptography library cannot start.
    AccountStore(std::chrono::seconds sessionIdle, Clock clock);

    // `seconds` since the epoch as UTC, ISO 8601; "" for 0 (never).
    static std::string isoTime(long long seconds);

    // The backend: rows in, rows out, each write one transaction. Names
    // compare without regard to case. Called only under the store's lock;
    // throw StoreError when the store cannot be read or written. A write
    // given an AccountChange adds it to the history in its transaction when
    // it changed something, and only then.

    // False when the name is taken. With a password (`hash` not empty) it
    // also deletes every one-time login.
    virtual bool insertAccount(const std::string& name, Role role, const std::string& hash,
                               const std::string& created, const AccountChange& change) = 0;
    // Inserts the account only when there is none at all; whether it did.
    virtual bool insertFirstAccount(const std::string& name, Role role, const std::string& created,
                                    const AccountChange& change) = 0;
    // With the account's sessions and one-time logins; never the last admin.
    virtual Removal deleteAccount(const std::string& name, const AccountChange& change) = 0;
    // Ends the account's sessions but `keep` (may be null) and deletes
    // every one-time login too; false for an unknown name.
    virtual bool updatePassword(const std::string& name, const std::string& hash,
                                const SecretHash* keep, const AccountChange& change) = 0;
    // Never takes the admin role from the last admin; records `change`
    // with its detail set to the roles before and after.
    virtual RoleUpdate updateRole(const std::string& name, Role role, AccountChange change) = 0;
    virtual std::vector<Account> selectAccounts() const = 0;
    virtual bool selectAnyPassword() const = 0;
    // The account and its password hash ("" for none).
    virtual std::optional<std::pair<Identity, std::string>> selectPassword(
        const std::string& name) const = 0;

    // False when the name is taken.
    virtual bool insertToken(const std::string& name, Role role, const SecretHash& hash,
                             const std::string& created, const AccountChange& change) = 0;
    virtual std::optional<Identity> selectToken(const SecretHash& hash) const = 0;
    // Notes the token's last use. Const like the check it follows: the
    // time of a last use is shown, never decides anything.
    virtual void touchToken(const SecretHash& hash, long long now) const = 0;
    // False for an unknown name.
    virtual bool deleteToken(const std::string& name, const AccountChange& change) = 0;
    virtual std::vector<TokenInfo> selectTokens() const = 0;
    // Every token and every session of an account that exists.
    virtual std::vector<KeptIdentity> selectIdentities() const = 0;

    // Also deletes the sessions last used before `idleBefore`, which would
    // otherwise stay forever, and notes the account's last login.
    virtual void insertSession(const SecretHash& hash, const std::string& account, long long now,
                               long long idleBefore, const std::string& address) = 0;
    // The account's sessions, oldest first.
    virtual std::vector<SessionRow> selectSessions(const std::string& account) const = 0;
    // Deletes the account's sessions among `hashes` (empty: all of them)
    // but `keep` (may be null); how many.
    virtual int deleteSessions(const std::string& account, const std::vector<SecretHash>& hashes,
                               const SecretHash* keep, const AccountChange& change) = 0;
    virtual std::optional<SessionRecord> selectSession(const SecretHash& hash) const = 0;
    virtual void touchSession(const SecretHash& hash, long long now) = 0;
    virtual void deleteSession(const SecretHash& hash) = 0;

    // Replaces every one-time login, of any account, by this one for the
    // account; false for an unknown account.
    virtual bool replaceOnceLogin(const std::string& name, const SecretHash& hash,
                                  long long expires) = 0;
    // In one transaction: uses the one-time login up and, when it had not
    // expired at `now`, its account exists and no account has a password,
    // opens the session `session` for that account (as insertSession); the
    // account then. A password set at the same moment counts as set either
    // just after the login or just before it.
    virtual std::optional<Identity> useOnceLogin(const SecretHash& hash, const SecretHash& session,
                                                 long long now, long long idleBefore,
                                                 const std::string& address) = 0;

    // Newest first; `before` 0 for the newest.
    virtual std::vector<AccountChange> selectChanges(long long before, int limit) const = 0;

  private:
    NewSession openSession(const Identity& identity, const std::string& address);
    long long now() const;
    // The history's record of `action` on `subject` by `by`, made now.
    AccountChange change(const Actor& by, const char* action, const std::string& subject,
                         std::string detail = "") const;
    // Inside the handler of the backend's StoreError: the identity
    // remembered for `hash`, or the error thrown on.
    Identity rememberedOrThrow(const SecretHash& hash) const;

    std::chrono::seconds sessionIdle_;
    Clock clock_;
    mutable std::mutex mutex_;
    // Filled by checks that a const verifyToken() makes, hence mutable;
    // used only under mutex_.
    mutable RememberedIdentities remembered_;
    // When each token's last use was last written, so that a busy script
    // does not turn every request into a write; under mutex_.
    mutable std::map<SecretHash, long long> tokenTouched_;
};

}  // namespace panelhost
