#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tsl {

// Where display messages go: a receiver's address and the transport to use.
struct TslTarget {
    enum class Protocol { Udp, Tcp };

    Protocol protocol = Protocol::Udp;
    // A host name, an IPv4 address or an IPv6 address (without brackets).
    std::string host;
    std::uint16_t port = 0;

    // Parses "udp:HOST:PORT" or "tcp:HOST:PORT"; an IPv6 address is written
    // in brackets ("udp:[::1]:8900"). On failure returns nothing and puts a
    // message that quotes the text and says what is wrong into `error`.
    static std::optional<TslTarget> parse(std::string_view targetText, std::string& error);

    // The text this target was parsed from, in canonical form.
    std::string toString() const;

    bool operator==(const TslTarget& other) const {
        return protocol == other.protocol && host == other.host && port == other.port;
    }
};

}  // namespace tsl
