#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Tsl31Encoder.h"

using tsl::Tsl31Encoder;
using tsl::TslDisplayMessage;
using Bytes = std::vector<std::uint8_t>;

namespace {

TslDisplayMessage message(std::uint16_t address, std::uint8_t brightness, std::string text) {
    TslDisplayMessage m;
    m.index = address;
    m.brightness = brightness;
    m.text = std::move(text);
    return m;
}

Bytes bytesOf(std::uint8_t header, std::uint8_t control, const std::string& text16) {
    Bytes b;
    b.push_back(header);
    b.push_back(control);
    for (const char c : text16) {
        b.push_back(static_cast<std::uint8_t>(c));
    }
    return b;
}

}  // namespace

TEST(Tsl31Encoder, MessagesAreHeaderControlAndSixteenPaddedCharacters) {
    TslDisplayMessage tallied = message(126, 7, "ABCDEFGHIJKLMNOPQRSTU");
    tallied.leftTally = tsl::TallyColour::Red;
    tallied.textTally = tsl::TallyColour::Green;
    const auto packets =
        Tsl31Encoder().encode({message(0, 3, "Cam 1"), message(5, 2, ""),
                               message(37, 0, "0123456789abcdef"), message(64, 1, " x "), tallied});
    ASSERT_EQ(packets.size(), 1u);
    Bytes expected;
    for (const Bytes& m :
         {bytesOf(0x80, 0x30, "Cam 1           "), bytesOf(0x85, 0x20, "                "),
          bytesOf(0xA5, 0x00, "0123456789abcdef"), bytesOf(0xC0, 0x10, " x              "),
          // Brightness above 3 is sent as 3; tallies stay off.
          bytesOf(0xFE, 0x30, "ABCDEFGHIJKLMNOP")}) {
        expected.insert(expected.end(), m.begin(), m.end());
    }
    EXPECT_EQ(packets[0].bytes, expected);
    EXPECT_EQ(packets[0].messageCount, 5u);

    EXPECT_THROW(Tsl31Encoder().encode({message(127, 3, "x")}), std::out_of_range);
    EXPECT_TRUE(Tsl31Encoder().encode({}).empty());
}

TEST(Tsl31Encoder, TextOutsidePrintableAsciiIsFoldedToItsNearestForm) {
    const struct {
        const char* utf8;
        const char* shown;
    } cases[] = {
        {"Caf\xC3\xA9 \xC3\x84rger", "Cafe Arger      "},  // é Ä
        {"Stra\xC3\x9F"
         "e",
         "Strasse         "},                                                // ß
        {"\xC3\x86gir \xC5\x92uvre", "AEgir OEuvre    "},                    // Æ Œ
        {"\xC5\x81\xC3\xB3\x64\xC5\xBA \xC8\x98\x74i", "Lodz Sti        "},  // Ł ó ź Ș
        {"Vi\xE1\xBB\x87t", "Viet            "},                             // ệ
        {"e\xCC\x81te\xCC\x81", "ete             "},                         // combining acute
        {"\xD0\x9A\xD0\xB0\xD0\xB4\xD1\x80 1", "???? 1          "},          // Cyrillic
        {"\xE2\x80\x9COn\xE2\x80\x9D \xE2\x80\x93 air\xE2\x80\xA6", "\"On\" - air...   "},
        {"Cam\xC2\xA0"
         "1\xC2\xAD",
         "Cam 1           "},                                    // no-break space, soft hyphen
        {"A\tB\x7F", "A?B?            "},                        // control characters
        {"\xF0\x9F\x8E\xA5 \xC3\x97 \xFF", "? ? ?           "},  // emoji, sign, bad byte
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
         "eeeeeeeeeeeeeeee"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Tsl31Encoder::displayText(c.utf8), c.shown) << c.utf8;
        EXPECT_FALSE(Tsl31Encoder::showsExactly(c.utf8)) << c.utf8;
    }
    EXPECT_TRUE(Tsl31Encoder::showsExactly("Exactly sixteen!"));
    EXPECT_TRUE(Tsl31Encoder::showsExactly(""));
    EXPECT_FALSE(Tsl31Encoder::showsExactly("Seventeen letters"));
}

TEST(Tsl31Encoder, PacketsHoldAsManyMessagesAsFitOrAsAsked) {
    std::vector<TslDisplayMessage> wall;
    for (std::uint16_t address = 0; address <= Tsl31Encoder::kMaxAddress; ++address) {
        wall.push_back(message(address, 3, "N" + std::to_string(address)));
    }
    const auto packets = Tsl31Encoder().encode(wall);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].messageCount, Tsl31Encoder::kMaxMessagesPerPacket);
    EXPECT_LE(packets[0].bytes.size(), tsl::TslEncoder::kMaxPacketBytes);
    EXPECT_EQ(packets[1].firstMessage, Tsl31Encoder::kMaxMessagesPerPacket);
    EXPECT_EQ(packets[1].messageCount, wall.size() - Tsl31Encoder::kMaxMessagesPerPacket);
    EXPECT_EQ(packets[1].bytes.size(), packets[1].messageCount * Tsl31Encoder::kMessageBytes);
    EXPECT_EQ(packets[1].bytes[0], 0x80 + Tsl31Encoder::kMaxMessagesPerPacket);

    const auto single = Tsl31Encoder(1).encode(wall);
    ASSERT_EQ(single.size(), wall.size());
    EXPECT_EQ(single[126].bytes, bytesOf(0xFE, 0x30, "N126            "));
}
