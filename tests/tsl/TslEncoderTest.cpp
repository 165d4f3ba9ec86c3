#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TslEncoder.h"
#include "TslPacketReader.h"

using tsl::TallyColour;
using tsl::TslDisplayMessage;
using tsl::TslEncoder;
using tsl::TslPacket;
using Bytes = std::vector<std::uint8_t>;

namespace {

TslDisplayMessage message(std::uint16_t index, std::string text, std::uint8_t brightness = 3) {
    TslDisplayMessage m;
    m.index = index;
    m.brightness = brightness;
    m.text = std::move(text);
    return m;
}

// Names of equal length: the stem and a three-digit number.
std::string numbered(const std::string& stem, std::size_t i) {
    const std::string digits = std::to_string(i);
    return stem + std::string(3 - digits.size(), '0') + digits;
}

std::vector<TslDisplayMessage> wall(std::size_t count, const std::string& stem) {
    std::vector<TslDisplayMessage> messages;
    for (std::size_t i = 0; i < count; ++i) {
        messages.push_back(message(static_cast<std::uint16_t>(i), numbered(stem, i)));
    }
    return messages;
}

// The texts of all packets, in order, checking each packet's framing fields.
std::vector<tsl_test::ReadMessage> readAll(const std::vector<TslPacket>& packets) {
    std::vector<tsl_test::ReadMessage> all;
    for (const TslPacket& packet : packets) {
        EXPECT_LE(packet.bytes.size(), TslEncoder::kMaxPacketBytes);
        const tsl_test::ReadPacket read = tsl_test::readPacket(packet.bytes);
        EXPECT_TRUE(read.consistent);
        EXPECT_EQ(read.pbc + 2u, packet.bytes.size());
        EXPECT_EQ(read.messages.size(), packet.messageCount);
        EXPECT_EQ((read.flags & TslEncoder::kFlagUtf16) != 0, packet.utf16);
        all.insert(all.end(), read.messages.begin(), read.messages.end());
    }
    return all;
}

}  // namespace

TEST(TslEncoderLayout, OneAsciiMessage) {
    TslDisplayMessage m = message(5, "CAM 1");
    m.rightTally = TallyColour::Red;
    const std::vector<TslPacket> packets = TslEncoder().encode({m});
    ASSERT_EQ(packets.size(), 1u);
    const Bytes expected = {0x0F, 0x00,  // PBC: 15 bytes follow
                            0x00,        // VER 5.00
                            0x00,        // FLAGS: ASCII
                            0x00, 0x00,  // SCREEN 0
                            0x05, 0x00,  // INDEX 5
                            0xC1, 0x00,  // CONTROL: brightness 3, right red
                            0x05, 0x00,  // LENGTH 5
                            'C',  'A',  'M', ' ', '1'};
    EXPECT_EQ(packets[0].bytes, expected);
    EXPECT_FALSE(packets[0].utf16);
}

TEST(TslEncoderLayout, OneUtf16MessageWithTalliesAndScreen) {
    TslDisplayMessage m = message(0x0102, "S\xC3\xBC\x64", 1);  // "Süd"
    m.textTally = TallyColour::Green;
    m.leftTally = TallyColour::Amber;
    const std::vector<TslPacket> packets = TslEncoder(2).encode({m});
    ASSERT_EQ(packets.size(), 1u);
    const Bytes expected = {0x10, 0x00,  // PBC 16
                            0x00,        // VER
                            0x01,        // FLAGS: UTF-16LE
                            0x02, 0x00,  // SCREEN 2
                            0x02, 0x01,  // INDEX 0x0102
                            0x78, 0x00,  // brightness 1, text green, left amber
                            0x06, 0x00,  // LENGTH 6 bytes
                            0x53, 0x00, 0xFC, 0x00, 0x64, 0x00};
    EXPECT_EQ(packets[0].bytes, expected);
    EXPECT_TRUE(packets[0].utf16);
}

TEST(TslEncoderLayout, SupplementaryCharacterIsASurrogatePair) {
    const std::vector<TslPacket> packets = TslEncoder().encode({message(0, "\xF0\x9D\x84\x9E")});
    ASSERT_EQ(packets.size(), 1u);
    const Bytes text(packets[0].bytes.end() - 4, packets[0].bytes.end());
    EXPECT_EQ(text, (Bytes{0x34, 0xD8, 0x1E, 0xDD}));
}

TEST(TslEncoderLayout, InvalidUtf8IsSentAsReplacementCharacter) {
    const std::vector<TslPacket> packets = TslEncoder().encode({message(0, "A\xFF")});
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_TRUE(packets[0].utf16);
    EXPECT_EQ(readAll(packets)[0].text, "A\xEF\xBF\xBD");
}

TEST(TslEncoderLayout, BrightnessAboveThreeIsSentAsThree) {
    const std::vector<TslPacket> packets = TslEncoder().encode({message(0, "", 9)});
    EXPECT_EQ(tsl_test::u16At(packets[0].bytes, 8), 0x00C0);
}

TEST(TslEncoderLayout, EmptyInputGivesNoPacket) {
    EXPECT_TRUE(TslEncoder().encode({}).empty());
}

TEST(TslEncoderSplitting, ShortNamesShareOnePacket) {
    const std::vector<TslPacket> packets = TslEncoder().encode(wall(128, "SRC"));
    ASSERT_EQ(packets.size(), 1u);
    const auto read = readAll(packets);
    ASSERT_EQ(read.size(), 128u);
    EXPECT_EQ(read[127].index, 127);
    EXPECT_EQ(read[127].text, "SRC127");
}

TEST(TslEncoderSplitting, LongNamesFillPacketsUpTo2048Bytes) {
    // 30 characters each: 36 bytes a message, so 56 fit in one packet.
    const std::vector<TslPacket> packets = TslEncoder().encode(wall(128, std::string(27, 'x')));
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].messageCount, 56u);
    EXPECT_EQ(packets[0].bytes.size(), 6u + 56u * 36u);
    EXPECT_EQ(packets[1].firstMessage, 56u);
    EXPECT_EQ(packets[2].messageCount, 16u);
    const auto read = readAll(packets);
    ASSERT_EQ(read.size(), 128u);
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].index, i);
        EXPECT_EQ(read[i].text, numbered(std::string(27, 'x'), i));
    }
}

TEST(TslEncoderSplitting, EachPacketIsWhollyAsciiOrUtf16) {
    std::vector<TslDisplayMessage> messages = wall(128, std::string(20, 'n'));
    messages[70].text = "\xD0\x9A\xD0\xB0\xD0\xB4\xD1\x80 1";  // "Кадр 1"
    const std::vector<TslPacket> packets = TslEncoder().encode(messages);
    std::size_t utf16Packets = 0;
    for (const TslPacket& p : packets) {
        const bool holds70 = p.firstMessage <= 70 && 70 < p.firstMessage + p.messageCount;
        EXPECT_EQ(p.utf16, holds70);
        utf16Packets += p.utf16 ? 1 : 0;
    }
    EXPECT_EQ(utf16Packets, 1u);
    const auto read = readAll(packets);
    ASSERT_EQ(read.size(), 128u);
    EXPECT_EQ(read[70].text, messages[70].text);
    EXPECT_EQ(read[71].text, messages[71].text);
}

TEST(TslEncoderSplitting, NonAsciiNameStartsANewPacketWhenUtf16WouldOverflow) {
    // 40 messages of 36 bytes leave room for more in ASCII, but in UTF-16
    // they would take 2640 bytes, so the non-ASCII 41st goes on its own.
    std::vector<TslDisplayMessage> messages = wall(40, std::string(27, 'x'));
    messages.push_back(message(40, "\xC3\xA9"));
    const std::vector<TslPacket> packets = TslEncoder().encode(messages);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_FALSE(packets[0].utf16);
    EXPECT_TRUE(packets[1].utf16);
    EXPECT_EQ(packets[1].messageCount, 1u);
}

TEST(TslEncoderSplitting, MessageLimitPerPacket) {
    const std::vector<TslPacket> packets = TslEncoder(0, 1).encode(wall(3, "A"));
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(readAll(packets)[2].text, "A002");
}

TEST(TslEncoderSplitting, OverlongTextsAreCutToOnePacket) {
    const std::vector<TslPacket> ascii = TslEncoder().encode({message(0, std::string(3000, 'a'))});
    ASSERT_EQ(ascii.size(), 1u);
    EXPECT_EQ(ascii[0].bytes.size(), TslEncoder::kMaxPacketBytes);
    EXPECT_EQ(readAll(ascii)[0].text, std::string(TslEncoder::kMaxTextBytes, 'a'));

    // 1017 'ü' then a surrogate pair: the pair would straddle the limit.
    std::string text;
    for (int i = 0; i < 1017; ++i) {
        text += "\xC3\xBC";
    }
    text += "\xF0\x9D\x84\x9E";
    const std::vector<TslPacket> wide = TslEncoder().encode({message(0, text)});
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(tsl_test::u16At(wide[0].bytes, 10), 2 * 1017);
    EXPECT_TRUE(tsl_test::readPacket(wide[0].bytes).consistent);
}

TEST(TslEncoderFraming, DleStxPrefixAndStuffing) {
    EXPECT_EQ(TslEncoder::frameForStream({0xFE, 0x00, 0x01, 0xFE}),
              (Bytes{0xFE, 0x02, 0xFE, 0xFE, 0x00, 0x01, 0xFE, 0xFE}));
    EXPECT_EQ(TslEncoder::frameForStream({}), (Bytes{0xFE, 0x02}));
}

TEST(TslEncoderFraming, StuffsDleInsideLengthsAndIndexes) {
    // 244 characters: PBC = 10 + 244 = 0x00FE. Index 0xFEFE, LENGTH 0x00F4.
    const std::vector<TslPacket> packets =
        TslEncoder(0x01FE).encode({message(0xFEFE, std::string(244, 'z'))});
    const Bytes& packet = packets.at(0).bytes;
    ASSERT_EQ(tsl_test::u16At(packet, 0), 0x00FE);
    const Bytes framed = TslEncoder::frameForStream(packet);
    const Bytes head = {0xFE, 0x02,               // DLE/STX
                        0xFE, 0xFE, 0x00,         // PBC 0x00FE
                        0x00, 0x00,               // VER, FLAGS
                        0xFE, 0xFE, 0x01,         // SCREEN 0x01FE
                        0xFE, 0xFE, 0xFE, 0xFE,   // INDEX 0xFEFE
                        0xC0, 0x00, 0xF4, 0x00};  // CONTROL, LENGTH
    EXPECT_EQ(Bytes(framed.begin(), framed.begin() + static_cast<std::ptrdiff_t>(head.size())),
              head);
    EXPECT_EQ(framed.size(), packet.size() + 2 + 4);

    Bytes unstuffed;
    for (std::size_t i = 2; i < framed.size(); ++i) {
        unstuffed.push_back(framed[i]);
        if (framed[i] == 0xFE) {
            ASSERT_EQ(framed.at(i + 1), 0xFE);
            ++i;
        }
    }
    EXPECT_EQ(unstuffed, packet);
}
