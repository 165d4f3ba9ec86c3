#include "TslTarget.h"

namespace tsl {
namespace {

constexpr std::string_view kUdpPrefix = "udp:";
constexpr std::string_view kTcpPrefix = "tcp:";
constexpr unsigned long kMaxPort = 65535;
// Digits of the largest port; a longer number cannot be valid.
constexpr std::size_t kMaxPortDigits = 5;

void fail(std::string& error, std::string_view targetText, std::string_view what) {
    error = "invalid display target \"" + std::string(targetText) + "\": " + std::string(what) +
            " (expected udp:HOST:PORT or tcp:HOST:PORT)";
}

// Letters, digits, '.', '-' and '_' make host names and IPv4 addresses;
// ':' and '%' (zone) occur only in bracketed IPv6 addresses.
bool validHost(std::string_view host, bool bracketed) {
    for (const char c : host) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        const bool ipv6 = bracketed && (c == ':' || c == '%');
        if (!plain && !ipv6) {
            return false;
        }
    }
    return true;
}

bool parsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > kMaxPortDigits) {
        return false;
    }
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > kMaxPort) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

std::optional<TslTarget> TslTarget::parse(std::string_view targetText, std::string& error) {
    TslTarget target;
    std::string_view rest;
    if (targetText.substr(0, kUdpPrefix.size()) == kUdpPrefix) {
        target.protocol = Protocol::Udp;
        rest = targetText.substr(kUdpPrefix.size());
    } else if (targetText.substr(0, kTcpPrefix.size()) == kTcpPrefix) {
        target.protocol = Protocol::Tcp;
        rest = targetText.substr(kTcpPrefix.size());
    } else {
        fail(error, targetText, "unknown transport, use udp or tcp");
        return std::nullopt;
    }

    std::string_view host;
    std::string_view portText;
    const bool bracketed = !rest.empty() && rest.front() == '[';
    if (bracketed) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            fail(error, targetText, "missing ']' after the IPv6 address");
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        if (close + 1 >= rest.size() || rest[close + 1] != ':') {
            fail(error, targetText, "missing ':PORT' after the address");
            return std::nullopt;
        }
        portText = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            fail(error, targetText, "missing ':PORT'");
            return std::nullopt;
        }
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            fail(error, targetText, "write an IPv6 address in brackets, e.g. udp:[::1]:8900");
            return std::nullopt;
        }
    }
    if (host.empty()) {
        fail(error, targetText, "missing host");
        return std::nullopt;
    }
    if (!validHost(host, bracketed)) {
        fail(error, targetText, "the host contains characters no host name or address has");
        return std::nullopt;
    }
    if (!parsePort(portText, target.port)) {
        fail(error, targetText, "port must be a number from 1 to 65535");
        return std::nullopt;
    }
    target.host = std::string(host);
    error.clear();
    return target;
}

std::string TslTarget::toString() const {
    const std::string address = host.find(':') == std::string::npos ? host : "[" + host + "]";
    return std::string(protocol == Protocol::Udp ? kUdpPrefix : kTcpPrefix) + address + ":" +
           std::to_string(port);
}

}  // namespace tsl
