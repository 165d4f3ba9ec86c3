#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AccountStore.h"
#include "SqliteConnection.h"

namespace panelhost {

// The accounts in tables of their own in the data file that SqliteNameStore
// creates (the file must exist and be a panelhost data file). Several
// stores, also in other processes, may use the same file at once: every
// change is one committed transaction (write-ahead log, synchronous FULL).
// Owns its connection; AccountStore's lock serialises its use.
class SqliteAccountStore : public AccountStore {
  public:
    // Opens the account tables of `file`, creating them when missing. Throws
    // StoreError for a missing file, one that is not a panelhost data file,
    // or one that cannot be read or written.
    explicit SqliteAccountStore(const std::filesystem::path& file,
                                std::chrono::seconds sessionIdle = kDefaultSessionIdle,
                                Clock clock = std::chrono::system_clock::now);

    std::string location() const override { return db_.file().string(); }

  private:
    class Transaction;

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

    // The statements of insertSession, inside the caller's transaction.
    void addSession(const SecretHash& hash, const std::string& account, long long now,
                    long long idleBefore, const std::string& address);
    // Adds `change` to the history, inside the caller's transaction.
    void record(const AccountChange& change);
    // The account's role; nothing for an unknown name.
    std::optional<Role> roleOf(const std::string& name) const;
    // How many accounts are admins.
    long long admins() const;
    std::optional<Identity> accountIdentity(const std::string& name) const;
    // Deletes every one-time login, inside the caller's transaction.
    void voidOnceLogins();

    SqliteConnection db_;
};

}  // namespace panelhost
