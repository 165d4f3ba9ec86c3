#include <gtest/gtest.h>

#include "Utf8Decoder.h"

using tsl::decodeUtf8ToUtf16;

namespace {
constexpr char16_t kFFFD = 0xFFFD;
}

TEST(Utf8Decoder, DecodesEverySequenceLength) {
    EXPECT_EQ(decodeUtf8ToUtf16("A"), u"A");
    EXPECT_EQ(decodeUtf8ToUtf16("S\xC3\xBC\x64"), u"S\u00FCd");
    EXPECT_EQ(decodeUtf8ToUtf16("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(decodeUtf8ToUtf16("\xF0\x9D\x84\x9E"), (std::u16string{0xD834, 0xDD1E}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));
    EXPECT_EQ(decodeUtf8ToUtf16(std::string("a\0b", 3)), (std::u16string{u'a', 0, u'b'}));
}

TEST(Utf8Decoder, EachIllFormedSubsequenceBecomesOneReplacement) {
    // Stray continuation byte and bytes that never start a sequence.
    EXPECT_EQ(decodeUtf8ToUtf16("\x80z"), (std::u16string{kFFFD, u'z'}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xF5\xFF"), (std::u16string{kFFFD, kFFFD}));
    // Truncated sequences: at the end, and followed by ASCII that survives.
    EXPECT_EQ(decodeUtf8ToUtf16("x\xE2\x82"), (std::u16string{u'x', kFFFD}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xE2\x82"
                                "A"),
              (std::u16string{kFFFD, u'A'}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xF0\x9D\x84"
                                "B"),
              (std::u16string{kFFFD, u'B'}));
    // Overlong forms, encoded surrogates and values above U+10FFFF.
    EXPECT_EQ(decodeUtf8ToUtf16("\xC0\xAF"), (std::u16string{kFFFD, kFFFD}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xE0\x80\xAF"), (std::u16string{kFFFD, kFFFD, kFFFD}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xED\xA0\x80"), (std::u16string{kFFFD, kFFFD, kFFFD}));
    EXPECT_EQ(decodeUtf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{kFFFD, kFFFD, kFFFD, kFFFD}));
}

TEST(Utf8Decoder, IsAscii) {
    EXPECT_TRUE(tsl::isAscii(""));
    EXPECT_TRUE(tsl::isAscii("Cam 1 ~\x7F"));
    EXPECT_FALSE(tsl::isAscii("Kamera S\xC3\xBC\x64"));
    EXPECT_FALSE(tsl::isAscii("\x80"));
}
