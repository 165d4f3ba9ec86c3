#include "AccountStore.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <utility>

namespace panelhost {
namespace {

// Random bytes in every token, session id and one-time secret: 256 bits,
// beyond guessing however fast the guesses come.
constexpr std::size_t kSecretBytes = 32;
// Length of the kept hashes of those secrets (BLAKE2b-256).
constexpr std::size_t kSecretHashBytes = 32;
// A session's last use is written again only when it is older than this, so
// that a busy client does not turn every read into a write of the store.
constexpr long long kTouchSeconds = 60;
// Bytes of a token's hash that name an unnamed token.
constexpr std::size_t kTokenNameHashBytes = 4;
// Most tokens and sessions remembered for an outage of the store: well
// above a facility's panels, tablets and scripts, while a client that opens
// sessions in a loop cannot make the memory grow (each entry is a hash and
// a name).
constexpr std::size_t kRememberedIdentities = 4096;
// Bytes of a session's kept hash that name it in a list of sessions: enough
// that two sessions of one account never share a name.
constexpr std::size_t kSessionIdBytes = 8;

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
// stolen store expensive to attack.
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

std::string timeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    std::array<char, sizeof "2024-05-01T09:30:00Z"> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text.data();
}

// The name of a session in its account's list (see SessionInfo).
std::string sessionName(const std::vector<unsigned char>& hash) {
    std::array<char, 2 * kSessionIdBytes + 1> hex{};
    sodium_bin2hex(hex.data(), hex.size(), hash.data(), std::min(hash.size(), kSessionIdBytes));
    return hex.data();
}

AccountError unknownAccount(const std::string& name) {
    return AccountError("there is no account named \"" + name + "\"");
}

}  // namespace

AccountStore::AccountStore(std::chrono::seconds sessionIdle, Clock clock)
    : sessionIdle_(sessionIdle),
      clock_(std::move(clock)),
      remembered_(kIdentityGrace, kRememberedIdentities) {
    if (sodium_init() < 0) {
        throw StoreError("the cryptography library cannot start");
    }
}

std::string AccountStore::isoTime(long long seconds) {
    if (seconds == 0) {
        return "";
    }
    return timeText(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
}

AccountChange AccountStore::change(const Actor& by, const char* action, const std::string& subject,
                                   std::string detail) const {
    return AccountChange{0,       timeText(clock_()), by.who, by.address, action,
                         subject, std::move(detail)};
}

long long AccountStore::now() const {
    return std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
}

Identity AccountStore::rememberedOrThrow(const SecretHash& hash) const {
    if (std::optional<Identity> identity = remembered_.recall(hash, clock_())) {
        return *identity;
    }
    throw;
}

void AccountStore::addAccount(const std::string& name, Role role, const std::string& password,
                              const Actor& by) {
    checkName(name, "account");
    if (!password.empty()) {
        checkPassword(password);
    }
    const std::string hash = password.empty() ? std::string() : passwordHash(password);
    const std::lock_guard<std::mutex> lock(mutex_);
    const AccountChange added = change(
        by, kAccountAdded, name,
        "as " + roleName(role) + (password.empty() ? ", without a password" : ", with a password"));
    if (!insertAccount(name, role, hash, timeText(clock_()), added)) {
        throw AccountError("an account named \"" + name + "\" exists already");
    }
}

bool AccountStore::addFirstAdmin(const std::string& name) {
    checkName(name, "account");
    const std::lock_guard<std::mutex> lock(mutex_);
    return insertFirstAccount(name, Role::Admin, timeText(clock_()),
                              change(Actor{"panelhost", "first start"}, kAccountAdded, name,
                                     "as admin, without a password: the first start's account"));
}

void AccountStore::removeAccount(const std::string& name, const Actor& by) {
    const std::lock_guard<std::mutex> lock(mutex_);
    switch (deleteAccount(name, change(by, kAccountRemoved, name))) {
        case Removal::Removed:
            remembered_.forgetNamed(name, false);
            return;
        case Removal::Unknown:
            throw unknownAccount(name);
        case Removal::LastAdmin:
            throw AccountError("\"" + name +
                               "\" is the last admin account and is kept; add another admin "
                               "first");
    }
}

void AccountStore::setPassword(const std::string& name, const std::string& password,
                               const Actor& by) {
    checkPassword(password);
    const std::string hash = passwordHash(password);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!updatePassword(name, hash, nullptr,
                        change(by, kPasswordSet, name, "and ended its sessions"))) {
        throw unknownAccount(name);
    }
    remembered_.forgetNamed(name, false);
}

bool AccountStore::changeOwnPassword(const std::string& name, const std::string& oldPassword,
                                     const std::string& newPassword, const std::string& keepSession,
                                     const Actor& by) {
    checkPassword(newPassword);
    std::optional<std::pair<Identity, std::string>> found;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        found = selectPassword(name);
    }
    if (!found) {
        throw unknownAccount(name);
    }
    // Hashed outside the lock, as in verifyPassword(). An account without a
    // password is proven by its session alone (a one-time login's).
    if (!found->second.empty() && !passwordMatches(found->second, oldPassword)) {
        return false;
    }
    const std::string hash = passwordHash(newPassword);
    const SecretHash keep = secretHash(keepSession);
    const std::lock_guard<std::mutex> lock(mutex_);
    const AccountChange changed =
        change(by, kPasswordChanged, found->first.name,
               found->second.empty() ? "its first password; its other sessions ended"
                                     : "its own; its other sessions ended");
    if (!updatePassword(found->first.name, hash, keepSession.empty() ? nullptr : &keep, changed)) {
        throw unknownAccount(name);
    }
    remembered_.forgetNamed(found->first.name, false);
    return true;
}

void AccountStore::setRole(const std::string& name, Role role, const Actor& by) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const RoleUpdate update = updateRole(name, role, change(by, kRoleChanged, name));
    switch (update.outcome) {
        case Removal::Removed:
            remembered_.forgetNamed(name, false);
            return;
        case Removal::Unknown:
            throw unknownAccount(name);
        case Removal::LastAdmin:
            throw AccountError("\"" + name +
                               "\" is the last admin account and stays an admin; make another "
                               "account an admin first");
    }
}

std::vector<SessionInfo> AccountStore::sessions(const std::string& name,
                                                const std::string& currentSession) const {
    const SecretHash current = secretHash(currentSession);
    const long long idleBefore = now() - sessionIdle_.count();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!selectPassword(name)) {
        throw unknownAccount(name);
    }
    std::vector<SessionInfo> list;
    for (const SessionRow& row : selectSessions(name)) {
        if (row.lastUsed < idleBefore) {
            continue;  // over, deleted at its next use or the next login
        }
        list.push_back(SessionInfo{sessionName(row.hash), isoTime(row.created),
                                   isoTime(row.lastUsed), row.address,
                                   !currentSession.empty() && row.hash == current});
    }
    return list;
}

bool AccountStore::endSession(const std::string& name, const std::string& id, const Actor& by) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const SessionRow& row : selectSessions(name)) {
        if (sessionName(row.hash) == id) {
            remembered_.forget(row.hash);
            return deleteSessions(name, {row.hash}, nullptr,
                                  change(by, kSessionsEnded, name, "one session")) > 0;
        }
    }
    return false;
}

int AccountStore::endSessions(const std::string& name, const std::string& keepSession,
                              const Actor& by) {
    const SecretHash keep = secretHash(keepSession);
    const std::lock_guard<std::mutex> lock(mutex_);
    const int ended =
        deleteSessions(name, {}, keepSession.empty() ? nullptr : &keep,
                       change(by, kSessionsEnded, name,
                              keepSession.empty() ? "every session" : "every other session"));
    // Nothing remembered for the account may outlast its sessions; the
    // kept one is checked at the store again on its next request.
    remembered_.forgetNamed(name, false);
    return ended;
}

std::vector<AccountChange> AccountStore::changes(long long before, int limit) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return selectChanges(before, limit);
}

std::vector<Account> AccountStore::accounts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return selectAccounts();
}

bool AccountStore::anyPassword() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return selectAnyPassword();
}

std::optional<Identity> AccountStore::verifyPassword(const std::string& name,
                                                     const std::string& password) const {
    std::optional<std::pair<Identity, std::string>> found;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        found = selectPassword(name);
    }
    // Hashed outside the lock: it takes a tenth of a second.
    if (!found || found->second.empty()) {
        passwordMatches(decoyHash(), password);
        return std::nullopt;
    }
    return passwordMatches(found->second, password) ? std::optional(found->first) : std::nullopt;
}

NewToken AccountStore::createToken(Role role, const std::string& name, const Actor& by) {
    const std::string token = kTokenPrefix + randomSecret();
    const SecretHash hash = secretHash(token);
    std::string tokenName = name;
    if (tokenName.empty()) {
        std::array<char, 2 * kTokenNameHashBytes + 1> hex{};
        sodium_bin2hex(hex.data(), hex.size(), hash.data(), kTokenNameHashBytes);
        tokenName = roleName(role) + "-" + hex.data();
    }
    checkName(tokenName, "token");
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!insertToken(tokenName, role, hash, timeText(clock_()),
                     change(by, kTokenCreated, tokenName, "as " + roleName(role)))) {
        throw AccountError("a token named \"" + tokenName + "\" exists already");
    }
    return NewToken{tokenName, token};
}

std::optional<Identity> AccountStore::verifyToken(const std::string& token) const {
    const SecretHash hash = secretHash(token);
    const std::lock_guard<std::mutex> lock(mutex_);
    std::optional<Identity> identity;
    try {
        identity = selectToken(hash);
    } catch (const StoreError&) {
        return rememberedOrThrow(hash);
    }
    if (!identity) {
        remembered_.forget(hash);
        return identity;
    }
    remembered_.verified(hash, *identity, clock_());
    const long long current = now();
    const auto touched = tokenTouched_.find(hash);
    if (touched == tokenTouched_.end() || current - touched->second >= kTouchSeconds) {
        if (tokenTouched_.size() >= kRememberedIdentities) {
            tokenTouched_.clear();  // only costs one more write per token
        }
        tokenTouched_[hash] = current;
        try {
            touchToken(hash, current);
        } catch (const StoreError&) {
            // The token was verified; its time of last use is shown only.
        }
    }
    return identity;
}

void AccountStore::revokeToken(const std::string& name, const Actor& by) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!deleteToken(name, change(by, kTokenRevoked, name))) {
        throw AccountError("there is no token named \"" + name + "\"");
    }
    remembered_.forgetNamed(name, true);
}

std::vector<KeptIdentity> AccountStore::identities() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return selectIdentities();
}

std::vector<unsigned char> AccountStore::keptHash(const std::string& secret) {
    return secretHash(secret);
}

std::vector<TokenInfo> AccountStore::tokens() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return selectTokens();
}

NewSession AccountStore::openSession(const Identity& identity, const std::string& address) {
    NewSession opened{randomSecret(), identity};
    const long long current = now();
    insertSession(secretHash(opened.id), identity.name, current, current - sessionIdle_.count(),
                  address);
    return opened;
}

std::optional<NewSession> AccountStore::login(const std::string& name, const std::string& password,
                                              const std::string& address) {
    const std::optional<Identity> identity = verifyPassword(name, password);
    if (!identity) {
        return std::nullopt;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return openSession(*identity, address);
}

std::optional<Identity> AccountStore::session(const std::string& id) {
    const SecretHash hash = secretHash(id);
    const long long current = now();
    const std::lock_guard<std::mutex> lock(mutex_);
    std::optional<SessionRecord> found;
    try {
        found = selectSession(hash);
    } catch (const StoreError&) {
        return rememberedOrThrow(hash);
    }
    if (!found || current - found->lastUsed > sessionIdle_.count()) {
        remembered_.forget(hash);
        if (found) {
            deleteSession(hash);
        }
        return std::nullopt;
    }
    remembered_.verified(hash, found->identity, clock_());
    if (current - found->lastUsed >= kTouchSeconds) {
        touchSession(hash, current);
    }
    return found->identity;
}

void AccountStore::logout(const std::string& id) {
    const SecretHash hash = secretHash(id);
    const std::lock_guard<std::mutex> lock(mutex_);
    remembered_.forget(hash);
    deleteSession(hash);
}

std::string AccountStore::issueOnceLogin(const std::string& name) {
    const std::string secret = randomSecret();
    const SecretHash hash = secretHash(secret);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!replaceOnceLogin(name, hash, now() + kOnceLoginLifetime.count())) {
        throw unknownAccount(name);
    }
    return secret;
}

std::optional<NewSession> AccountStore::loginOnce(const std::string& secret,
                                                  const std::string& address) {
    const SecretHash hash = secretHash(secret);
    NewSession opened{randomSecret(), Identity{}};
    const long long current = now();
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::optional<Identity> identity =
        useOnceLogin(hash, secretHash(opened.id), current, current - sessionIdle_.count(), address);
    if (!identity) {
        return std::nullopt;
    }
    opened.identity = *identity;
    return opened;
}

}  // namespace panelhost
