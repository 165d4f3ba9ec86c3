#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TslEncoder.h"

namespace tsl {

// Builds version 3.1 display messages: 18 bytes each, a header byte
// (0x80 + display address), a control byte (tallies 1 to 4 in bits 0 to 3,
// from the message's tallies31; brightness 0 to 3 in bits 4 and 5), and 16 characters of printable
// ASCII padded with spaces. A text that is not printable ASCII is folded to its nearest ASCII form
// (see AsciiFolding) and a longer one is cut to 16 characters. Messages have no framing and no
// checksum: a packet is several of them back to back, as many as fit in TslEncoder::kMaxPacketBytes
// (or the optional per-packet limit), sent as one datagram or written to a serial line as they are.
// Stateless after construction; any thread may call it.
class Tsl31Encoder {
  public:
    static constexpr std::size_t kMessageBytes = 18;
    static constexpr std::size_t kTextBytes = 16;
    // 0x80 + 127 would be 0xFF, which is no address.
    static constexpr int kMaxAddress = 126;
    static constexpr std::uint8_t kHeaderBase = 0x80;
    static constexpr int kBrightnessShift = 4;
    static constexpr std::uint8_t kTallyBits = 0x0F;
    // Datagrams keep to the size receivers accept for either version.
    static constexpr std::size_t kMaxMessagesPerPacket =
        TslEncoder::kMaxPacketBytes / kMessageBytes;

    explicit Tsl31Encoder(std::size_t maxMessagesPerPacket = TslEncoder::kNoMessageLimit);

    // Packets for `messages`, in order; none for an empty list. A message's
    // index is its display address; its 5.0 lamps are not read. Throws
    // std::out_of_range for an address beyond kMaxAddress: the caller
    // leaves out what the protocol cannot address.
    std::vector<TslPacket> encode(const std::vector<TslDisplayMessage>& messages) const;

    // The 16 characters a display shows for the UTF-8 `text`.
    static std::string displayText(std::string_view text);
    // True when a display shows `text` exactly as it is: printable ASCII of
    // at most 16 characters.
    static bool showsExactly(std::string_view text);

  private:
    std::size_t messagesPerPacket_;
};

}  // namespace tsl
