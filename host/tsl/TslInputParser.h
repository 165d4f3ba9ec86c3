#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "TslTally.h"

namespace tsl {

// One display message as a vision mixer or tally system sent it.
struct TslInputMessage {
    // The display index (5.0; TslEncoder::kAllDisplays: every display) or
    // the 3.1 address.
    std::uint16_t index = 0;
    std::uint16_t screen = 0;
    TslTally tally;
    // The sender's label, as UTF-8 with every character below U+0020 (and
    // DEL) left out; empty for a message that carries control data.
    std::string text;
};

// What one packet said: its display messages in order, or why it was
// dropped (then no message is kept: a packet is taken whole or not at all).
struct TslInputPacket {
    std::vector<TslInputMessage> messages;
    std::string error;

    bool ok() const { return error.empty(); }
};

// Reads the packets a vision mixer sends: TSL 5.0 (a datagram, with or
// without DLE/STX framing, or one packet out of a stream) with ASCII or
// UTF-16LE texts and every display message it holds; screen control
// packets carry no display state and give no messages. TSL 3.1: one or more
// 18-byte display messages back to back. Anything else (short, long,
// counts that disagree, a version or header it does not know) is refused
// with a readable reason. Pure and stateless: any thread, any bytes.
class TslInputParser {
  public:
    // The most a packet may hold, as the senders keep to.
    static constexpr std::size_t kMaxPacketBytes = TslEncoder::kMaxPacketBytes;
    static constexpr std::uint8_t kFlagScreenControl = 0x02;
    static constexpr std::uint16_t kControlData = 0x8000;

    static TslInputPacket parse5(const std::uint8_t* bytes, std::size_t size);
    static TslInputPacket parse31(const std::uint8_t* bytes, std::size_t size);
    // A DLE/STX-framed datagram's packet with doubled DLE bytes made single;
    // false for a frame that ends inside a DLE pair or holds a lone DLE.
    static bool unframe(const std::uint8_t* bytes, std::size_t size,
                        std::vector<std::uint8_t>& packet);
};

}  // namespace tsl
