// The Ember+ codec: S101 framing byte for byte, BER and Glow against bytes
// the independent provider node-emberplus produced, and malformed input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BerReader.h"
#include "BerWriter.h"
#include "GlowDecoder.h"
#include "GlowEncoder.h"
#include "S101Decoder.h"
#include "S101Encoder.h"

namespace ember {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// The answer of node-emberplus 3.0.8 to a GetDirectory on its 4 x 4 matrix
// at 0.0.0 (target t routed to source 3 - t, label set "primary" at
// 0.0.1000), and the update it pushes when label 0.0.1000.1.0 becomes
// "Kamera Süd": nested plain nodes down to the parameter.
const Bytes kProviderMatrix = fromHex(
    "6081896b8186a08183718180a0050d03000000a13b3139a0080c066d6174726978a203020100a303020100a403"
    "020104a503020104aa193017a0157213a0060d0400008768a1090c077072696d617279a53a3038a00c700aa003"
    "020100a1030d0103a00c700aa003020101a1030d0102a00c700aa003020102a1030d0101a00c700aa003020103"
    "a1030d0100");
const Bytes kProviderLabel = fromHex(
    "60646b62a060635ea003020100a2576455a0536351a003020100a24a6448a0466344a004020203e8a23c643aa0"
    "386336a003020101a22f642da02b6129a003020100a1223120a0050c03742d30a20d0c0b4b616d6572612053c3"
    "bc64a503020101ad03020103");

TEST(S101Framing, FramesMatchTheIndependentProviderByteForByte) {
    // Keep-alives as node-emberplus frames them; the response's CRC holds
    // 0xFC, which is escaped.
    EXPECT_EQ(S101Encoder::keepAliveRequest(), fromHex("fe000e010194e4ff"));
    EXPECT_EQ(S101Encoder::keepAliveResponse(), fromHex("fe000e0201fddcceff"));
    // The CRC's published check value (CRC-16/X-25 of "123456789").
    const std::string check = "123456789";
    EXPECT_EQ(static_cast<std::uint16_t>(~S101Encoder::crc(
                  reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
              0x906E);
    // Every byte from 0xF8 up is escaped; the CRC covers the bytes unescaped.
    EXPECT_EQ(S101Encoder::frame(fromHex("000e0001c001023202fefffdf8f700")),
              fromHex("fe000e0001c001023202fddefddffdddfdd8f70040eaff"));
}

TEST(S101Framing, DecodesAMultiPacketMessageFedInChunksOfAnySize) {
    Bytes payload(3000);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7);
    }
    const auto frames = S101Encoder::message(payload);
    ASSERT_EQ(frames.size(), 3U);
    Bytes stream;
    for (const Bytes& frame : frames) {
        stream.insert(stream.end(), frame.begin(), frame.end());
        const Bytes keepAlive = S101Encoder::keepAliveRequest();
        stream.insert(stream.end(), keepAlive.begin(), keepAlive.end());
    }
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
        S101Decoder decoder;
        std::vector<S101Decoder::Event> events;
        std::string error;
        for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
            ASSERT_TRUE(decoder.feed(stream.data() + offset,
                                     std::min(chunk, stream.size() - offset), events, error))
                << error;
        }
        ASSERT_EQ(events.size(), 4U) << "chunk " << chunk;
        // The message completes with its third frame, before the third keep-alive.
        EXPECT_EQ(events[0].kind, S101Decoder::Event::Kind::KeepAliveRequest);
        EXPECT_EQ(events[1].kind, S101Decoder::Event::Kind::KeepAliveRequest);
        EXPECT_EQ(events[2].kind, S101Decoder::Event::Kind::Message);
        EXPECT_EQ(events[2].payload, payload);
        EXPECT_EQ(events[3].kind, S101Decoder::Event::Kind::KeepAliveRequest);
    }
}

TEST(S101Framing, MalformedFramesAreErrors) {
    const Bytes good = S101Encoder::message(fromHex("600a"))[0];
    Bytes badCrc = good;
    badCrc[badCrc.size() - 2] ^= 0x01;
    // A last packet (flags 0x40) with no first packet before it.
    const Bytes continuation = S101Encoder::frame(fromHex("000e00014001023202600a"));
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {badCrc, "frame CRC mismatch"},
        {continuation, "continuation packet without a first packet"},
        {fromHex("fe000ef9"), "unescaped 0xF9 inside a frame"},
        {fromHex("fefdff"), "escape followed by 0xFF"},
        {fromHex("fe000e01ff"), "frame of 3 bytes is too short"},
        {fromHex("20"), "byte 0x20 outside a frame"},
    };
    for (const auto& [bytes, expected] : cases) {
        S101Decoder decoder;
        std::vector<S101Decoder::Event> events;
        std::string error;
        EXPECT_FALSE(decoder.feed(bytes.data(), bytes.size(), events, error)) << expected;
        EXPECT_EQ(error, expected);
    }
}

TEST(Glow, RequestsEncodeAsTheSchemaSaysAndDecodeBack) {
    // Root > RootElementCollection > [0] Command { [0] 32, [1] -1 }.
    EXPECT_EQ(GlowEncoder::command(GlowCommandType::GetDirectory, GlowKind::Node, {}),
              fromHex("60106b0ea00c620aa003020120a1030201ff"));
    std::vector<GlowElement> elements;
    std::string error;
    ASSERT_TRUE(GlowDecoder::decode(
        GlowEncoder::command(GlowCommandType::Subscribe, GlowKind::Matrix, {1, 200, 3}), elements,
        error))
        << error;
    ASSERT_EQ(elements.size(), 2U);
    EXPECT_EQ(elements[0].kind, GlowKind::Matrix);
    EXPECT_EQ(elements[0].path, (GlowPath{1, 200, 3}));
    EXPECT_EQ(elements[1].kind, GlowKind::Command);
    EXPECT_EQ(elements[1].path, (GlowPath{1, 200, 3}));
    EXPECT_EQ(elements[1].command, 30);
}

TEST(Glow, DecodesTheIndependentProvidersMatrixAndLabelUpdate) {
    std::vector<GlowElement> elements;
    std::string error;
    ASSERT_TRUE(GlowDecoder::decode(kProviderMatrix, elements, error)) << error;
    ASSERT_EQ(elements.size(), 1U);
    const GlowElement& m = elements[0];
    EXPECT_EQ(m.kind, GlowKind::Matrix);
    EXPECT_EQ(m.path, (GlowPath{0, 0, 0}));
    EXPECT_EQ(m.identifier, "matrix");
    ASSERT_TRUE(m.matrix);
    EXPECT_EQ(m.matrix->targetCount, 4);
    EXPECT_EQ(m.matrix->sourceCount, 4);
    ASSERT_EQ(m.matrix->labels.size(), 1U);
    EXPECT_EQ(m.matrix->labels[0].basePath, (GlowPath{0, 0, 1000}));
    EXPECT_EQ(m.matrix->labels[0].description, "primary");
    ASSERT_TRUE(m.connections);
    ASSERT_EQ(m.connections->size(), 4U);
    for (std::int32_t t = 0; t < 4; ++t) {
        EXPECT_EQ((*m.connections)[static_cast<std::size_t>(t)].target, t);
        EXPECT_EQ((*m.connections)[static_cast<std::size_t>(t)].sources,
                  (std::vector<std::uint32_t>{static_cast<std::uint32_t>(3 - t)}));
    }

    elements.clear();
    ASSERT_TRUE(GlowDecoder::decode(kProviderLabel, elements, error)) << error;
    ASSERT_EQ(elements.size(), 5U);
    EXPECT_EQ(elements[4].kind, GlowKind::Parameter);
    EXPECT_EQ(elements[4].path, (GlowPath{0, 0, 1000, 1, 0}));
    EXPECT_EQ(elements[4].identifier, "t-0");
    ASSERT_TRUE(elements[4].value);
    EXPECT_EQ(std::get<std::string>(*elements[4].value), "Kamera Süd");
}

TEST(Ber, TagsLengthsAndValuesRoundTrip) {
    BerWriter w;
    w.begin(BerTag{BerTag::Class::Application, true, 300});
    w.utf8(std::string(200, 'x') + "\xC3\xBC");
    w.integer(-129);
    w.integer(std::int64_t{1} << 40);
    w.boolean(true);
    w.relativeOid({0, 127, 128, 0x7FFFFFFF});
    w.end();
    const Bytes bytes = w.take();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 5), fromHex("7f822c81e7"));

    BerReader top(bytes.data(), bytes.size());
    BerElement outer;
    BerReader inner(nullptr, 0);
    std::string error;
    ASSERT_TRUE(top.next(outer, error) && top.atEnd()) << error;
    EXPECT_TRUE(outer.tag.is(BerTag::Class::Application, 300));
    ASSERT_TRUE(top.enter(outer, inner, error));
    BerElement e;
    std::string text;
    std::int64_t number = 0;
    bool flag = false;
    GlowPath oid;
    ASSERT_TRUE(inner.next(e, error) && BerReader::readUtf8(e, text, error)) << error;
    EXPECT_EQ(text, std::string(200, 'x') + "\xC3\xBC");
    ASSERT_TRUE(inner.next(e, error) && BerReader::readInteger(e, number, error)) << error;
    EXPECT_EQ(number, -129);
    ASSERT_TRUE(inner.next(e, error) && BerReader::readInteger(e, number, error)) << error;
    EXPECT_EQ(number, std::int64_t{1} << 40);
    ASSERT_TRUE(inner.next(e, error) && BerReader::readBoolean(e, flag, error)) << error;
    EXPECT_TRUE(flag);
    ASSERT_TRUE(inner.next(e, error) && BerReader::readRelativeOid(e, oid, error)) << error;
    EXPECT_EQ(oid, (GlowPath{0, 127, 128, 0x7FFFFFFF}));
    EXPECT_TRUE(inner.atEnd());

    // Indefinite lengths: a root holding node 5 "x" and its parameter 5.1
    // with the REAL 09 03 80 FF 03: mantissa 3 read as 1.5, times 2^-1, as
    // node-emberplus reads it too.
    const Bytes indefinite = fromHex(
        "60806b80a0806380a003020105a1803180a0030c017800000000a2806480a0806180a003020101a180"
        "3180a205090380ff030000000000000000000000000000000000000000");
    std::vector<GlowElement> elements;
    ASSERT_TRUE(GlowDecoder::decode(indefinite, elements, error)) << error;
    ASSERT_EQ(elements.size(), 2U);
    EXPECT_EQ(elements[0].path, (GlowPath{5}));
    EXPECT_EQ(elements[0].identifier, "x");
    EXPECT_EQ(elements[1].path, (GlowPath{5, 1}));
    EXPECT_EQ(std::get<double>(*elements[1].value), 0.75);
}

TEST(Glow, EveryTruncationAndByteFlipOfARealMessageIsHandled) {
    // Whatever the damage, the decoder answers with elements or an error;
    // the sanitizer build checks it never reads out of bounds.
    for (const Bytes& message : {kProviderMatrix, kProviderLabel}) {
        for (std::size_t size = 0; size < message.size(); ++size) {
            std::vector<GlowElement> elements;
            std::string error;
            EXPECT_FALSE(GlowDecoder::decode(
                Bytes(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(size)),
                elements, error));
            EXPECT_FALSE(error.empty());
        }
        for (std::size_t i = 0; i < message.size(); ++i) {
            for (const unsigned flip : {0x01U, 0x80U, 0xFFU}) {
                Bytes damaged = message;
                damaged[i] = static_cast<std::uint8_t>(damaged[i] ^ flip);
                std::vector<GlowElement> elements;
                std::string error;
                if (!GlowDecoder::decode(damaged, elements, error)) {
                    EXPECT_FALSE(error.empty());
                }
            }
        }
    }
}

}  // namespace
}  // namespace ember
