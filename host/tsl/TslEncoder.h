#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tsl {

enum class TallyColour : std::uint8_t { Off = 0, Red = 1, Green = 2, Amber = 3 };

// One display's state as a sender wants it shown.
struct TslDisplayMessage {
    std::uint16_t index = 0;
    // 0 (off) to 3 (full); values above 3 are sent as 3.
    std::uint8_t brightness = 3;
    TallyColour rightTally = TallyColour::Off;
    TallyColour textTally = TallyColour::Off;
    TallyColour leftTally = TallyColour::Off;
    // The 3.1 tallies 1 to 4 in bits 0 to 3 (a 5.0 packet carries the
    // three lamps above instead).
    std::uint8_t tallies31 = 0;
    // UTF-8; invalid sequences are shown as U+FFFD.
    std::string text;
};

// One encoded packet and which of the encoder's input messages it carries.
struct TslPacket {
    std::vector<std::uint8_t> bytes;
    std::size_t firstMessage = 0;
    std::size_t messageCount = 0;
    bool utf16 = false;
};

// Builds version 5.0 display-message packets. Each packet holds as many
// consecutive messages as fit in kMaxPacketBytes (and in the optional
// per-packet message limit). A packet's texts are all ASCII, or all UTF-16LE
// with FLAGS bit 0 set as soon as one of its texts is not plain ASCII.
// A text longer than one packet can carry is cut to kMaxTextBytes (in
// UTF-16 never between the two halves of a surrogate pair).
class TslEncoder {
  public:
    // Largest packet, PBC included, that receivers accept in one datagram.
    static constexpr std::size_t kMaxPacketBytes = 2048;
    // PBC, VER, FLAGS, SCREEN.
    static constexpr std::size_t kPacketHeaderBytes = 6;
    // INDEX, CONTROL, LENGTH.
    static constexpr std::size_t kMessageHeaderBytes = 6;
    static constexpr std::size_t kMaxTextBytes =
        kMaxPacketBytes - kPacketHeaderBytes - kMessageHeaderBytes;
    static constexpr std::uint16_t kAllScreens = 0xFFFF;
    static constexpr std::uint16_t kAllDisplays = 0xFFFF;
    static constexpr std::uint8_t kFlagUtf16 = 0x01;
    static constexpr std::uint8_t kDle = 0xFE;
    static constexpr std::uint8_t kStx = 0x02;
    // maxMessagesPerPacket value meaning "as many as fit".
    static constexpr std::size_t kNoMessageLimit = 0;

    explicit TslEncoder(std::uint16_t screen = 0,
                        std::size_t maxMessagesPerPacket = kNoMessageLimit);

    // Packets for `messages`, in order; none for an empty list.
    std::vector<TslPacket> encode(const std::vector<TslDisplayMessage>& messages) const;

    // The packet as sent on a byte stream: DLE/STX, then the packet with
    // every DLE byte doubled.
    static std::vector<std::uint8_t> frameForStream(const std::vector<std::uint8_t>& packet);

    std::uint16_t screen() const { return screen_; }

  private:
    std::uint16_t screen_;
    std::size_t maxMessagesPerPacket_;
};

}  // namespace tsl
