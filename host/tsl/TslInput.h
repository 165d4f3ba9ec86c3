#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TslTarget.h"

namespace tsl {

// Where the tallies of a vision mixer or tally system come in: a local
// port, the protocol version it sends, and which sources its display
// addresses stand for. A plain value.
struct TslInput {
    // Version 5.0 over UDP (with or without DLE/STX framing) or TCP
    // (framed); version 3.1 over UDP.
    enum class Protocol { Udp, Tcp, Udp31 };

    Protocol protocol = Protocol::Udp;
    std::uint16_t port = 0;
    // The sources the sender's addresses map to: address `offset` is
    // firstSource, the next one the source after it, up to lastSource.
    int firstSource = 1;
    int lastSource = kSourceCount;
    // Nothing: the output's default (--tsl-offset).
    std::optional<int> offset;
    // Whether the sender's labels are shown on displays that have no name.
    bool useText = false;
    // The 5.0 screen whose messages are taken (and those for every screen,
    // TslEncoder::kAllScreens); nothing: every screen's.
    std::optional<std::uint16_t> screen;

    // Parses "udp:PORT", "tcp:PORT" or "udp31:PORT", each optionally
    // followed by ",offset=N", ",sources=FIRST-LAST" (or one source),
    // ",text=use" and, for 5.0, ",screen=N". On failure returns nothing and puts a message that
    // quotes the text and says what is wrong into `error`.
    static std::optional<TslInput> parse(std::string_view text, std::string& error);

    // The canonical text: options only where they differ from the defaults.
    std::string toString() const;

    bool version31() const { return protocol == Protocol::Udp31; }
    // Whether a message addressed to `messageScreen` is taken.
    bool takesScreen(std::uint16_t messageScreen) const;
    // The source that display address `address` stands for, at offset
    // `offset`; nothing for an address outside the input's sources.
    std::optional<int> sourceOf(int address, int defaultOffset) const;
};

}  // namespace tsl
