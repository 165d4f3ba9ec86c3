#include "LoginLimiter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <utility>

#include "AccountStore.h"

namespace panelhost {
namespace {

// Bytes of an IPv6 address that name its /64 network.
constexpr std::size_t kNetworkBytes = 8;
// Bytes before the IPv4 address in an IPv4-mapped IPv6 one (::ffff:a.b.c.d).
constexpr std::size_t kMappedPrefixBytes = 12;
constexpr std::array<unsigned char, kMappedPrefixBytes> kMappedPrefix = {0, 0, 0, 0, 0,    0,
                                                                         0, 0, 0, 0, 0xff, 0xff};

// The key a client counts under: its address; for an IPv4 client on a
// dual-stack socket its IPv4 address; for IPv6 its /64 network.
std::string addressKey(const std::string& address) {
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    if (inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) {
        return address;
    }
    if (std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin())) {
        std::array<char, INET_ADDRSTRLEN> text{};
        inet_ntop(AF_INET, bytes.data() + kMappedPrefixBytes, text.data(), text.size());
        return text.data();
    }
    std::fill(bytes.begin() + kNetworkBytes, bytes.end(), 0);
    std::array<char, INET6_ADDRSTRLEN> text{};
    inet_ntop(AF_INET6, bytes.data(), text.data(), text.size());
    return std::string(text.data()) + "/64";
}

// The key a name counts under: account names compare without regard to
// case. A name longer than any account's never logs in, so its first
// characters past that length are as good a key as all of it, and a long
// made-up name takes no more memory than a real one.
std::string accountKey(const std::string& name) {
    std::string key = name.substr(0, AccountStore::kLongestName + 1);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

}  // namespace

LoginLimiter::Attempt::Attempt(LoginLimiter& limiter, std::uint64_t id, std::string address,
                               std::string account, bool fillsAccount)
    : limiter_(&limiter),
      id_(id),
      address_(std::move(address)),
      account_(std::move(account)),
      fillsAccount_(fillsAccount) {}

LoginLimiter::Attempt::Attempt(Attempt&& other) noexcept
    : limiter_(std::exchange(other.limiter_, nullptr)),
      id_(other.id_),
      address_(std::move(other.address_)),
      account_(std::move(other.account_)),
      fillsAccount_(other.fillsAccount_) {}

LoginLimiter::Attempt::~Attempt() {
    if (limiter_ != nullptr) {
        limiter_->cancel(*this);
    }
}

bool LoginLimiter::Attempt::failed() {
    // Counted since it was reserved.
    limiter_ = nullptr;
    return fillsAccount_;
}

void LoginLimiter::Attempt::succeeded() {
    if (limiter_ != nullptr) {
        std::exchange(limiter_, nullptr)->succeeded(*this);
    }
}

LoginLimiter::LoginLimiter(LoginLimits limits, Clock clock)
    : limits_(limits),
      clock_(std::move(clock)),
      addresses_(limits.perAddress, limits.window, limits.mostAddresses),
      accounts_(limits.perAccount, limits.window, limits.mostAccounts) {}

std::variant<LoginLimiter::Attempt, LoginLimiter::Refusal> LoginLimiter::reserve(
    const std::string& address, const std::string& name) {
    const auto now = clock_();
    std::string byAddress = addressKey(address);
    std::string byAccount = accountKey(name);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (const auto wait = addresses_.wait(byAddress, now)) {
        return Refusal{*wait, false};
    }
    if (const auto wait = accounts_.wait(byAccount, now)) {
        return Refusal{*wait, true};
    }
    const std::uint64_t id = ++lastAttempt_;
    addresses_.add(byAddress, id, byAccount, now);
    accounts_.add(byAccount, id, byAddress, now);
    const bool fills = accounts_.wait(byAccount, now).has_value();
    return Attempt(*this, id, std::move(byAddress), std::move(byAccount), fills);
}

void LoginLimiter::cancel(const Attempt& attempt) {
    const std::lock_guard<std::mutex> lock(mutex_);
    addresses_.removeAttempt(attempt.address_, attempt.id_);
    accounts_.removeAttempt(attempt.account_, attempt.id_);
}

void LoginLimiter::succeeded(const Attempt& attempt) {
    const std::lock_guard<std::mutex> lock(mutex_);
    addresses_.removeOther(attempt.address_, attempt.account_);
    accounts_.removeOther(attempt.account_, attempt.address_);
}

}  // namespace panelhost
