#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AccountStore.h"
#include "PostgresConnection.h"

namespace panelhost {

// The accounts in a PostgreSQL database, in tables of their own in the
// schema "panelhost" that PostgresNameStore creates (it must exist and be a
// panelhost's), made when missing. Every host on the database shares them:
// an account or token made on one works on all, and a password change, a
// removal or a revoked token takes effect on all at the next request, since
// nothing is cached here. Every change is one committed transaction. Owns
// one connection, used under AccountStore's lock; a call that finds it lost
// connects again once, and throws StoreError when the server cannot be
// reached (AccountStore then answers only for what it verified just before).
class PostgresAccountStore : public AccountStore {
  public:
    // Connects with `url` (postgresql://…) and creates the account tables
    // when missing. Throws StoreError when the server cannot be reached or
    // refuses, or the database holds no panelhost schema.
    explicit PostgresAccountStore(const std::string& url,
                                  std::chrono::seconds sessionIdle = kDefaultSessionIdle,
                                  Clock clock = std::chrono::system_clock::now);

    std::string location() const override { return db_.location(); }

  private:
    using Result = PostgresConnection::Result;
    using Parameters = PostgresConnection::Parameters;

    bool insertAccount(const std::string& name, Role role, const std::string& hash,
                       const std::string& created, const AccountChange& change) override;
    bool insertFirstAccount(const std::string& name, Role role, const std::string& created,
                            const AccountChange& change) override;
    Removal deleteAccount(const std::string& name, const AccountChange& change) override;
    bool updatePassword(const std::string& name, const std::string& hash, const SecretHash* keep,
                        const AccountChange& change) override;
    RoleUpdate updateRole(const std::string& name, Role role, AccountChange change) override;
    std::vector<Account> selectAccounts() const override;
    bool selectAnyPassword() const override;
    std::optional<std::pair<Identity, std::string>> selectPassword(
        const std::string& name) const override;
    bool insertToken(const std::string& name, Role role, const SecretHash& hash,
                     const std::string& created, const AccountChange& change) override;
    std::optional<Identity> selectToken(const SecretHash& hash) const override;
    void touchToken(const SecretHash& hash, long long now) const override;
    bool deleteToken(const std::string& name, const AccountChange& change) override;
    std::vector<TokenInfo> selectTokens() const override;
    std::vector<KeptIdentity> selectIdentities() const override;
    void insertSession(const SecretHash& hash, const std::string& account, long long now,
                       long long idleBefore, const std::string& address) override;
    std::vector<SessionRow> selectSessions(const std::string& account) const override;
    int deleteSessions(const std::string& account, const std::vector<SecretHash>& hashes,
                       const SecretHash* keep, const AccountChange& change) override;
    std::optional<SessionRecord> selectSession(const SecretHash& hash) const override;
    void touchSession(const SecretHash& hash, long long now) override;
    void deleteSession(const SecretHash& hash) override;
    bool replaceOnceLogin(const std::string& name, const SecretHash& hash,
                          long long expires) override;
    std::optional<Identity> useOnceLogin(const SecretHash& hash, const SecretHash& session,
                                         long long now, long long idleBefore,
                                         const std::string& address) override;
    std::vector<AccountChange> selectChanges(long long before, int limit) const override;

    // Runs a read; when it fails because the connection was lost, connects
    // again and runs it once more (a read can be repeated; a write is not,
    // as its first attempt may have been committed).
    Result read(const std::string& what, const char* sql, const Parameters& parameters) const;
    // Runs one statement as a transaction of its own, connecting again
    // first when the connection was lost.
    Result write(const std::string& what, const char* sql, const Parameters& parameters);
    void addSession(const SecretHash& hash, const std::string& account, long long now,
                    long long idleBefore, const std::string& address);
    // Adds `change` to the history, inside the caller's transaction.
    void record(const AccountChange& change);
    // Tells the hosts that follow the store's notices that an account, a
    // token or a session changed; within a transaction, when it commits.
    void announce();

    // Reads connect again when the connection was lost, hence mutable; used
    // only under AccountStore's lock.
    mutable PostgresConnection db_;
};

}  // namespace panelhost
