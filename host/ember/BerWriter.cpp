#include "BerWriter.h"

namespace ember {
namespace {

constexpr std::uint32_t kTagBoolean = 1;
constexpr std::uint32_t kTagInteger = 2;
constexpr std::uint32_t kTagUtf8String = 12;
constexpr std::uint32_t kTagRelativeOid = 13;
constexpr std::uint32_t kHighTagNumber = 0x1F;

// Base-128 digits, most significant first, with the continuation bit.
void appendBase128(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t digits[5];
    int count = 0;
    do {
        digits[count++] = static_cast<std::uint8_t>(value & 0x7FU);
        value >>= 7;
    } while (value != 0);
    while (count > 0) {
        --count;
        out.push_back(static_cast<std::uint8_t>(digits[count] | (count > 0 ? 0x80 : 0)));
    }
}

std::vector<std::uint8_t> lengthOctets(std::size_t length) {
    if (length < 0x80) {
        return {static_cast<std::uint8_t>(length)};
    }
    std::vector<std::uint8_t> digits;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        digits.insert(digits.begin(), static_cast<std::uint8_t>(rest & 0xFFU));
    }
    digits.insert(digits.begin(), static_cast<std::uint8_t>(0x80U | digits.size()));
    return digits;
}

}  // namespace

void BerWriter::tag(BerTag t) {
    const auto lead = static_cast<std::uint8_t>((static_cast<unsigned>(t.tagClass) << 6) |
                                                (t.constructed ? 0x20U : 0U));
    if (t.number < kHighTagNumber) {
        out_.push_back(static_cast<std::uint8_t>(lead | t.number));
    } else {
        out_.push_back(static_cast<std::uint8_t>(lead | kHighTagNumber));
        appendBase128(out_, t.number);
    }
}

void BerWriter::begin(BerTag t) {
    t.constructed = true;
    tag(t);
    open_.push_back(out_.size());
}

void BerWriter::end() {
    const std::size_t start = open_.back();
    open_.pop_back();
    const std::vector<std::uint8_t> length = lengthOctets(out_.size() - start);
    out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(start), length.begin(), length.end());
}

void BerWriter::primitive(std::uint32_t number, const std::vector<std::uint8_t>& contents) {
    tag(BerTag{BerTag::Class::Universal, false, number});
    const std::vector<std::uint8_t> length = lengthOctets(contents.size());
    out_.insert(out_.end(), length.begin(), length.end());
    out_.insert(out_.end(), contents.begin(), contents.end());
}

void BerWriter::integer(std::int64_t value) {
    // Two's complement, without leading octets that only repeat the sign.
    std::vector<std::uint8_t> contents;
    auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        contents.insert(contents.begin(), static_cast<std::uint8_t>(bits & 0xFFU));
        bits >>= 8;
    }
    while (contents.size() > 1 && ((contents[0] == 0x00 && (contents[1] & 0x80) == 0) ||
                                   (contents[0] == 0xFF && (contents[1] & 0x80) != 0))) {
        contents.erase(contents.begin());
    }
    primitive(kTagInteger, contents);
}

void BerWriter::boolean(bool value) {
    primitive(kTagBoolean, {static_cast<std::uint8_t>(value ? 0xFF : 0x00)});
}

void BerWriter::utf8(const std::string& text) {
    primitive(kTagUtf8String, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void BerWriter::relativeOid(const std::vector<std::uint32_t>& path) {
    std::vector<std::uint8_t> contents;
    for (const std::uint32_t number : path) {
        appendBase128(contents, number);
    }
    primitive(kTagRelativeOid, contents);
}

std::vector<std::uint8_t> BerWriter::take() {
    std::vector<std::uint8_t> out;
    out.swap(out_);
    open_.clear();
    return out;
}

}  // namespace ember
