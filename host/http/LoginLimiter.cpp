#include "LoginLimiter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <utility>

namespace panelhost {
namespace {

// Bytes of an IPv6 address that name its /64 network.
constexpr std::size_t kNetworkBytes = 8;

// The key a client counts under: its address, or for IPv6 its /64 network.
std::string clientKey(const std::string& address) {
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    if (inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) {
        return address;
    }
    std::fill(bytes.begin() + kNetworkBytes, bytes.end(), 0);
    std::array<char, INET6_ADDRSTRLEN> text{};
    inet_ntop(AF_INET6, bytes.data(), text.data(), text.size());
    return std::string(text.data()) + "/64";
}

}  // namespace

LoginLimiter::LoginLimiter(int failures, std::chrono::seconds window, Clock clock)
    : failures_(static_cast<std::size_t>(std::max(failures, 1))),
      window_(window),
      clock_(std::move(clock)) {}

void LoginLimiter::forgetOld(Failures& failures, std::chrono::steady_clock::time_point now) const {
    while (!failures.empty() && now - failures.front() >= window_) {
        failures.pop_front();
    }
}

std::optional<std::chrono::seconds> LoginLimiter::retryAfter(const std::string& address) {
    const auto now = clock_();
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = clients_.find(clientKey(address));
    if (found == clients_.end()) {
        return std::nullopt;
    }
    forgetOld(found->second, now);
    if (found->second.size() < failures_) {
        if (found->second.empty()) {
            clients_.erase(found);
        }
        return std::nullopt;
    }
    // Free again once the oldest of the last `failures_` leaves the window.
    const auto freeAt = *(found->second.end() - static_cast<std::ptrdiff_t>(failures_)) + window_;
    const auto wait = std::chrono::ceil<std::chrono::seconds>(freeAt - now);
    return std::max(wait, std::chrono::seconds(1));
}

void LoginLimiter::failed(const std::string& address) {
    const auto now = clock_();
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = clientKey(address);
    if (clients_.find(key) == clients_.end() && clients_.size() >= kMostClients) {
        makeRoom(now);
    }
    Failures& failures = clients_[key];
    forgetOld(failures, now);
    failures.push_back(now);
    // Only the last `failures_` decide when the address is free again.
    while (failures.size() > failures_) {
        failures.pop_front();
    }
}

void LoginLimiter::succeeded(const std::string& address) {
    const std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(clientKey(address));
}

void LoginLimiter::makeRoom(std::chrono::steady_clock::time_point now) {
    for (auto client = clients_.begin(); client != clients_.end();) {
        forgetOld(client->second, now);
        client = client->second.empty() ? clients_.erase(client) : std::next(client);
    }
    if (clients_.size() < kMostClients) {
        return;
    }
    const auto oldest = std::min_element(
        clients_.begin(), clients_.end(),
        [](const auto& a, const auto& b) { return a.second.back() < b.second.back(); });
    clients_.erase(oldest);
}

}  // namespace panelhost
