#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "TslInput.h"
#include "TslInputParser.h"
#include "TslStreamReader.h"

using tsl::TallyColour;
using tsl::TslInputParser;
using tsl::TslTally;

namespace {

using Bytes = std::vector<std::uint8_t>;

void putU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

struct Message5 {
    std::uint16_t index;
    std::uint16_t control;
    Bytes text;
};

// A 5.0 packet laid out by hand from the wire format.
Bytes packet5(const std::vector<Message5>& messages, std::uint8_t flags = 0,
              std::uint16_t screen = 0) {
    Bytes out{0, 0, 0, flags};
    putU16(out, screen);
    for (const Message5& m : messages) {
        putU16(out, m.index);
        putU16(out, m.control);
        putU16(out, static_cast<std::uint16_t>(m.text.size()));
        out.insert(out.end(), m.text.begin(), m.text.end());
    }
    const auto pbc = static_cast<std::uint16_t>(out.size() - 2);
    out[0] = static_cast<std::uint8_t>(pbc & 0xFF);
    out[1] = static_cast<std::uint8_t>(pbc >> 8);
    return out;
}

Bytes ascii(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes framed(const Bytes& packet) {
    Bytes out{0xFE, 0x02};
    for (const std::uint8_t b : packet) {
        out.push_back(b);
        if (b == 0xFE) {
            out.push_back(0xFE);
        }
    }
    return out;
}

tsl::TslInputPacket parse5(const Bytes& b) {
    return TslInputParser::parse5(b.data(), b.size());
}

tsl::TslInputPacket parse31(const Bytes& b) {
    return TslInputParser::parse31(b.data(), b.size());
}

}  // namespace

TEST(TslInputParserTest, ReadsEveryMessageWithLampsTextAndScreen) {
    // Control: RH red (bits 0-1), text green (2-3), LH amber (4-5), full brightness.
    const std::uint16_t control = 1 | 2 << 2 | 3 << 4 | 3 << 6;
    const Bytes utf16{0x53, 0x00, 0xFC, 0x00, 0x64, 0x00, 0x3D, 0xD8, 0x00, 0xDE};  // Süd😀
    const auto read =
        parse5(packet5({{4, control, ascii("CAM 5")}, {9, 0, ascii("VT\x01 1")}}, 0, 7));
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.messages.size(), 2u);
    EXPECT_EQ(read.messages[0].index, 4);
    EXPECT_EQ(read.messages[0].screen, 7);
    EXPECT_EQ(read.messages[0].text, "CAM 5");
    EXPECT_EQ(read.messages[0].tally,
              TslTally::from5(TallyColour::Red, TallyColour::Green, TallyColour::Amber));
    EXPECT_EQ(read.messages[0].tally.tallies31, TslTally::kTally1 | TslTally::kTally2);
    EXPECT_EQ(read.messages[1].text, "VT 1") << "control characters are left out";
    EXPECT_FALSE(read.messages[1].tally.anyOn());

    const auto wide = parse5(packet5({{1, 2, utf16}}, 0x01));
    ASSERT_TRUE(wide.ok()) << wide.error;
    EXPECT_EQ(wide.messages[0].text, "S\u00FCd\U0001F600");
    EXPECT_EQ(wide.messages[0].tally.right, TallyColour::Green);

    // Framed as on a stream, with a doubled DLE in the index.
    const auto dle = parse5(framed(packet5({{0xFE, 1, ascii("X")}})));
    ASSERT_TRUE(dle.ok()) << dle.error;
    EXPECT_EQ(dle.messages[0].index, 0xFE);

    // A screen control packet and control data carry no display text.
    EXPECT_TRUE(parse5(packet5({{1, 3, ascii("x")}}, 0x02)).messages.empty());
    const auto data = parse5(packet5({{3, 0x8001, ascii("\x05\x06")}}));
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data.messages[0].text, "");
    EXPECT_EQ(data.messages[0].tally.right, TallyColour::Red);
}

TEST(TslInputParserTest, RefusesWhatIsNoWholePacket) {
    const Bytes good = packet5({{1, 1, ascii("CAM 1")}, {2, 1, ascii("CAM 2")}});
    ASSERT_TRUE(parse5(good).ok());
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        const auto read = parse5(Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        EXPECT_FALSE(read.ok()) << "cut at " << cut;
        EXPECT_TRUE(read.messages.empty());
        EXPECT_FALSE(read.error.empty());
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(parse5(longer).ok());
    Bytes version = good;
    version[2] = 1;
    EXPECT_NE(parse5(version).error.find("version"), std::string::npos);
    // A message that claims more text than the packet holds, with the count fixed up.
    Bytes overrun = packet5({{1, 1, ascii("abc")}});
    overrun[10] = 9;
    EXPECT_NE(parse5(overrun).error.find("text bytes"), std::string::npos);
    EXPECT_FALSE(parse5(packet5({{1, 0, ascii("abc")}}, 0x01)).ok()) << "odd UTF-16 length";
    Bytes lone = framed(good);
    lone.insert(lone.begin() + 4, 0xFE);
    EXPECT_FALSE(parse5(lone).ok());
}

TEST(TslInputParserTest, Reads31MessagesAndRefusesBrokenOnes) {
    Bytes two{0x84, 0x31};
    const std::string text = "CAM 5           ";
    two.insert(two.end(), text.begin(), text.end());
    two.push_back(0xFE);
    two.push_back(0x0E);
    two.insert(two.end(), text.begin(), text.end());
    const auto read = parse31(two);
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.messages.size(), 2u);
    EXPECT_EQ(read.messages[0].index, 4);
    EXPECT_EQ(read.messages[0].text, "CAM 5");
    EXPECT_EQ(read.messages[0].tally, TslTally::from31(TslTally::kTally1));
    EXPECT_EQ(read.messages[0].tally.right, TallyColour::Red);
    EXPECT_EQ(read.messages[1].index, 126);
    EXPECT_EQ(read.messages[1].tally.tallies31, 0x0E);
    EXPECT_EQ(read.messages[1].tally.left, TallyColour::Green);

    EXPECT_FALSE(parse31(Bytes(two.begin(), two.end() - 1)).ok()) << "truncated";
    Bytes header = two;
    header[18] = 0x7F;
    EXPECT_FALSE(parse31(header).ok());
    Bytes control = two;
    control[1] = 0x80;
    EXPECT_FALSE(parse31(control).ok());
    EXPECT_FALSE(parse31({}).ok());
}

TEST(TslStreamReaderTest, CutsAStreamIntoItsPacketsWhateverTheChunks) {
    const Bytes a = packet5({{0xFE, 1, ascii("\xFE")}});
    const Bytes b = packet5({{2, 2, ascii("CAM 2")}});
    Bytes stream = framed(a);
    const Bytes second = framed(b);
    stream.insert(stream.end(), {0x41, 0x42});  // between frames
    stream.insert(stream.end(), second.begin(), second.end());
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        tsl::TslStreamReader reader;
        std::vector<Bytes> packets;
        std::vector<std::string> errors;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            for (auto& piece :
                 reader.take(stream.data() + at, std::min(chunk, stream.size() - at))) {
                if (piece.error.empty()) {
                    packets.push_back(piece.packet);
                } else {
                    errors.push_back(piece.error);
                }
            }
        }
        ASSERT_EQ(packets.size(), 2u) << "chunk " << chunk;
        EXPECT_EQ(packets[0], a);
        EXPECT_EQ(packets[1], b);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], "2 bytes outside a frame");
    }
    // A frame cut short by the next one is reported; the next one is kept.
    tsl::TslStreamReader reader;
    Bytes cut(second.begin(), second.begin() + 6);
    cut.insert(cut.end(), second.begin(), second.end());
    const auto pieces = reader.take(cut.data(), cut.size());
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_FALSE(pieces[0].error.empty());
    EXPECT_EQ(pieces[1].packet, b);
}

TEST(TslInputTest, ParsesOptionsAndMapsAddressesToSources) {
    std::string error;
    const auto plain = tsl::TslInput::parse("udp:8900", error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->port, 8900);
    EXPECT_EQ(plain->sourceOf(0, 0), 1);
    EXPECT_EQ(plain->sourceOf(4, 1), 4);
    EXPECT_EQ(plain->sourceOf(128, 0), std::nullopt);

    const auto mapped = tsl::TslInput::parse("udp31:9000,offset=10,sources=33-40,text=use", error);
    ASSERT_TRUE(mapped) << error;
    EXPECT_TRUE(mapped->version31());
    EXPECT_TRUE(mapped->useText);
    EXPECT_EQ(mapped->sourceOf(10, 0), 33);
    EXPECT_EQ(mapped->sourceOf(17, 0), 40);
    EXPECT_EQ(mapped->sourceOf(18, 0), std::nullopt);
    EXPECT_EQ(mapped->sourceOf(9, 0), std::nullopt);
    EXPECT_EQ(mapped->toString(), "udp31:9000,offset=10,sources=33-40,text=use");
    EXPECT_EQ(tsl::TslInput::parse("tcp:9001", error)->protocol, tsl::TslInput::Protocol::Tcp);
    EXPECT_TRUE(plain->takesScreen(7)) << "every screen without ,screen=N";
    const auto screen = tsl::TslInput::parse("tcp:9001,screen=2", error);
    ASSERT_TRUE(screen) << error;
    EXPECT_TRUE(screen->takesScreen(2));
    EXPECT_TRUE(screen->takesScreen(0xFFFF)) << "a message for every screen";
    EXPECT_FALSE(screen->takesScreen(0));
    EXPECT_EQ(screen->toString(), "tcp:9001,screen=2");

    for (const char* bad :
         {"udp:", "udp:0", "udp:65536", "udp:host:8900", "serial:/dev/x", "udp:1,text=ignore",
          "udp31:1,offset=127", "udp:1,sources=0-4", "udp:1,offset=1,offset=2", "udp:1,colour=red",
          "udp:1,", "udp31:1,screen=0", "udp:1,screen=65535"}) {
        EXPECT_FALSE(tsl::TslInput::parse(bad, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST(TslTallyTest, CombinesAndTranslatesBetweenVersions) {
    const TslTally red = TslTally::from5(TallyColour::Red, TallyColour::Off, TallyColour::Off);
    const TslTally green = TslTally::from31(TslTally::kTally2);
    const TslTally both = red.combined(green);
    EXPECT_EQ(both.right, TallyColour::Amber);
    EXPECT_EQ(both.left, TallyColour::Green);
    EXPECT_EQ(both.text, TallyColour::Off);
    EXPECT_EQ(both.tallies31, TslTally::kTally1 | TslTally::kTally2);
    EXPECT_EQ(TslTally::from31(0xF0), TslTally{}) << "bits above tally 4 are not tallies";
    EXPECT_FALSE(TslTally{}.anyOn());
    EXPECT_TRUE(TslTally::from31(0x08).anyOn()) << "tally 4 alone is on";
}
