#include "RequestGuard.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>

#include "HttpStatus.h"

namespace panelhost {
namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kHighestPort = 65535;
// The first byte of every IPv4 loopback address (127.0.0.0/8).
constexpr unsigned char kLoopbackNet = 127;
// Bytes of an IPv6 address that map an IPv4 one (::ffff:a.b.c.d).
constexpr std::size_t kMappedPrefix = 12;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An address literal in its one canonical spelling (IPv6 without
// brackets); nothing for anything else, host names included.
std::optional<std::string> canonicalAddress(const std::string& text) {
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    std::array<char, INET6_ADDRSTRLEN> spelled{};
    for (const int family : {AF_INET, AF_INET6}) {
        if (inet_pton(family, text.c_str(), bytes.data()) == 1 &&
            inet_ntop(family, bytes.data(), spelled.data(), spelled.size()) != nullptr) {
            return std::string(spelled.data());
        }
    }
    return std::nullopt;
}

struct Authority {
    std::string host;  // lower case; an address in canonical spelling
    std::optional<int> port;
};

// HOST, HOST:PORT, [IPV6] or [IPV6]:PORT; nothing when malformed.
std::optional<Authority> parseAuthority(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return std::nullopt;
            }
            port = rest.substr(1);
        }
        if (host.find(':') == std::string::npos) {
            return std::nullopt;  // brackets hold IPv6 only
        }
    } else {
        const auto colon = text.find(':');
        host = text.substr(0, colon);
        if (colon != std::string::npos) {
            port = text.substr(colon + 1);
            if (port.find(':') != std::string::npos) {
                return std::nullopt;  // an unbracketed IPv6 address
            }
        }
    }
    if (!host.empty() && host.back() == '.') {
        host.pop_back();  // the fully qualified spelling of the same name
    }
    if (host.empty()) {
        return std::nullopt;
    }
    for (const char c : host) {
        const bool allowed = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' ||
                             c == '-' || c == '_' || c == ':';
        if (!allowed) {
            return std::nullopt;
        }
    }
    Authority authority{lower(host), std::nullopt};
    if (const auto address = canonicalAddress(authority.host)) {
        authority.host = *address;
    } else if (authority.host.find(':') != std::string::npos) {
        return std::nullopt;
    }
    if (text.back() == ':' || !port.empty()) {
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; })) {
            return std::nullopt;
        }
        const int number = std::stoi(port);
        if (number < 1 || number > kHighestPort) {
            return std::nullopt;
        }
        authority.port = number;
    }
    return authority;
}

bool isAnyAddress(const std::string& bind) {
    const auto address = canonicalAddress(bind);
    return bind.empty() || (address && (*address == "0.0.0.0" || *address == "::"));
}

// The media type of a Content-Type value, without its parameters.
std::string mediaType(const std::string& contentType) {
    return lower(trim(contentType.substr(0, contentType.find(';'))));
}

}  // namespace

RequestGuard::RequestGuard(const std::string& bind, int port,
                           const std::vector<std::string>& allowHosts, bool tls)
    : scheme_(tls ? "https" : "http"), port_(port), anyAddress_(isAnyAddress(bind)) {
    if (!anyAddress_) {
        // An IPv6 address comes unbracketed from --bind.
        const auto own = canonicalAddress(bind) ? Authority{*canonicalAddress(bind), std::nullopt}
                                                : parseAuthority(bind);
        if (own) {
            names_.push_back(Name{own->host, port_});
        }
    }
    if (anyAddress_ || isLoopbackAddress(bind)) {
        for (const char* loopback : {"localhost", "127.0.0.1", "::1"}) {
            names_.push_back(Name{loopback, port_});
        }
    }
    for (const std::string& allowed : allowHosts) {
        const auto name = parseAuthority(allowed);
        if (!name) {
            throw std::invalid_argument("--allow-host " + allowed +
                                        ": not a host name, NAME:PORT or address");
        }
        names_.push_back(Name{name->host, name->port.value_or(port_)});
    }
}

bool RequestGuard::isLoopbackAddress(const std::string& address) {
    if (lower(address) == "localhost") {
        return true;
    }
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    if (inet_pton(AF_INET, address.c_str(), bytes.data()) == 1) {
        return bytes[0] == kLoopbackNet;
    }
    if (inet_pton(AF_INET6, address.c_str(), bytes.data()) != 1) {
        return false;
    }
    const std::array<unsigned char, sizeof(in6_addr)> loopback = {0, 0, 0, 0, 0, 0, 0, 0,
                                                                  0, 0, 0, 0, 0, 0, 0, 1};
    const std::array<unsigned char, kMappedPrefix> mapped = {0, 0, 0, 0, 0,    0,
                                                             0, 0, 0, 0, 0xff, 0xff};
    return bytes == loopback || (std::equal(mapped.begin(), mapped.end(), bytes.begin()) &&
                                 bytes[kMappedPrefix] == kLoopbackNet);
}

bool RequestGuard::changes(const std::string& method) {
    const std::string name = lower(method);
    return name != "get" && name != "head" && name != "options";
}

bool RequestGuard::knownHost(const std::string& host, int port) const {
    if (anyAddress_ && port == port_ && canonicalAddress(host)) {
        return true;
    }
    return std::any_of(names_.begin(), names_.end(),
                       [&](const Name& name) { return name.host == host && name.port == port; });
}

GuardVerdict RequestGuard::check(const GuardedRequest& request) const {
    const int defaultPort = scheme_ == "https" ? kHttpsPort : kHttpPort;
    const auto host = request.host ? parseAuthority(trim(*request.host)) : std::nullopt;
    if (!host || !knownHost(host->host, host->port.value_or(defaultPort))) {
        return GuardVerdict{kMisdirected, request.host
                                              ? "the request is addressed to \"" + *request.host +
                                                    "\", which is not a name of this host (names "
                                                    "can be allowed with --allow-host)"
                                              : "the request names no host"};
    }
    if (!changes(request.method)) {
        return GuardVerdict{};
    }
    if (!request.contentType || mediaType(*request.contentType) != "application/json") {
        return GuardVerdict{kForbidden, "a " + request.method +
                                            " request must send Content-Type: application/json"};
    }
    if (request.origin) {
        const std::string origin = trim(*request.origin);
        const std::string prefix = scheme_ + "://";
        const auto from = lower(origin).rfind(prefix, 0) == 0
                              ? parseAuthority(origin.substr(prefix.size()))
                              : std::nullopt;
        if (!from || from->host != host->host ||
            from->port.value_or(defaultPort) != host->port.value_or(defaultPort)) {
            return GuardVerdict{kForbidden, "a request from the page of another site (Origin " +
                                                origin + ") may not change anything here"};
        }
    }
    return GuardVerdict{};
}

}  // namespace panelhost
