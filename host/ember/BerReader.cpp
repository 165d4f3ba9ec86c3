#include "BerReader.h"

#include <cmath>
#include <limits>

namespace ember {
namespace {

// Universal tag numbers of the types Glow uses.
constexpr std::uint32_t kTagBoolean = 1;
constexpr std::uint32_t kTagInteger = 2;
constexpr std::uint32_t kTagReal = 9;
constexpr std::uint32_t kTagUtf8String = 12;
constexpr std::uint32_t kTagRelativeOid = 13;
// Tag numbers and subidentifiers above 2^31 - 1 do not occur in Glow;
// lengths above 4 octets cannot fit any message we accept.
constexpr std::uint32_t kMaxNumber = 0x7FFFFFFF;
constexpr std::size_t kMaxLengthOctets = 4;
constexpr std::size_t kMaxIntegerOctets = 8;
constexpr std::uint8_t kIndefiniteLength = 0x80;
constexpr std::uint8_t kHighTagNumber = 0x1F;

bool expect(const BerElement& element, std::uint32_t number, const char* name, std::string& error) {
    if (element.tag.is(BerTag::Class::Universal, number) && !element.tag.constructed) {
        return true;
    }
    error = std::string("expected ") + name;
    return false;
}

// Number of bytes of a UTF-8 sequence starting with `lead`, or 0.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

bool validSequence(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return false;
        }
    }
    if (n == 3) {
        const unsigned cp = ((p[0] & 0x0FU) << 12) | ((p[1] & 0x3FU) << 6) | (p[2] & 0x3FU);
        return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (n == 4) {
        const unsigned cp = ((p[0] & 0x07U) << 18) | ((p[1] & 0x3FU) << 12) |
                            ((p[2] & 0x3FU) << 6) | (p[3] & 0x3FU);
        return cp >= 0x10000 && cp <= 0x10FFFF;
    }
    return true;
}

}  // namespace

bool BerReader::readHeader(BerTag& tag, std::size_t& length, bool& indefinite, std::string& error) {
    if (offset_ >= size_) {
        error = "element expected, data ended";
        return false;
    }
    const std::uint8_t first = data_[offset_++];
    tag.tagClass = static_cast<BerTag::Class>(first >> 6);
    tag.constructed = (first & 0x20) != 0;
    tag.number = first & kHighTagNumber;
    if (tag.number == kHighTagNumber) {
        std::uint32_t number = 0;
        std::uint8_t byte = 0;
        do {
            if (offset_ >= size_) {
                error = "tag number cut off";
                return false;
            }
            byte = data_[offset_++];
            if (number > (kMaxNumber >> 7)) {
                error = "tag number too large";
                return false;
            }
            number = (number << 7) | (byte & 0x7FU);
        } while ((byte & 0x80) != 0);
        tag.number = number;
    }
    if (offset_ >= size_) {
        error = "length cut off";
        return false;
    }
    const std::uint8_t lead = data_[offset_++];
    indefinite = lead == kIndefiniteLength;
    length = 0;
    if (indefinite) {
        if (!tag.constructed) {
            error = "indefinite length on a primitive element";
            return false;
        }
        return true;
    }
    if ((lead & 0x80) == 0) {
        length = lead;
    } else {
        const std::size_t octets = lead & 0x7FU;
        if (octets > kMaxLengthOctets || octets > size_ - offset_) {
            error = "length field too long";
            return false;
        }
        for (std::size_t i = 0; i < octets; ++i) {
            length = (length << 8) | data_[offset_++];
        }
    }
    if (length > size_ - offset_) {
        error = "length " + std::to_string(length) + " exceeds the " +
                std::to_string(size_ - offset_) + " bytes left";
        return false;
    }
    return true;
}

bool BerReader::skipIndefinite(int depth, std::string& error) {
    if (depth > kMaxDepth) {
        error = "nesting deeper than " + std::to_string(kMaxDepth);
        return false;
    }
    while (true) {
        if (size_ - offset_ >= 2 && data_[offset_] == 0 && data_[offset_ + 1] == 0) {
            offset_ += 2;
            return true;
        }
        BerTag tag;
        std::size_t length = 0;
        bool indefinite = false;
        if (!readHeader(tag, length, indefinite, error)) {
            return false;
        }
        if (indefinite) {
            if (!skipIndefinite(depth + 1, error)) {
                return false;
            }
        } else {
            offset_ += length;
        }
    }
}

bool BerReader::next(BerElement& out, std::string& error) {
    std::size_t length = 0;
    bool indefinite = false;
    if (!readHeader(out.tag, length, indefinite, error)) {
        return false;
    }
    out.data = data_ + offset_;
    if (indefinite) {
        const std::size_t start = offset_;
        if (!skipIndefinite(depth_ + 1, error)) {
            return false;
        }
        out.size = offset_ - start - 2;
    } else {
        out.size = length;
        offset_ += length;
    }
    return true;
}

bool BerReader::enter(const BerElement& element, BerReader& out, std::string& error) const {
    if (!element.tag.constructed) {
        error = "expected a constructed element";
        return false;
    }
    if (depth_ + 1 > kMaxDepth) {
        error = "nesting deeper than " + std::to_string(kMaxDepth);
        return false;
    }
    out = BerReader(element.data, element.size, depth_ + 1);
    return true;
}

bool BerReader::unwrap(const BerElement& element, BerElement& out, std::string& error) const {
    BerReader inner(nullptr, 0);
    if (!enter(element, inner, error) || !inner.next(out, error)) {
        return false;
    }
    if (!inner.atEnd()) {
        error = "explicit tag holds more than one element";
        return false;
    }
    return true;
}

bool BerReader::readInteger(const BerElement& element, std::int64_t& out, std::string& error) {
    if (!expect(element, kTagInteger, "INTEGER", error)) {
        return false;
    }
    if (element.size == 0 || element.size > kMaxIntegerOctets) {
        error = "INTEGER of " + std::to_string(element.size) + " octets";
        return false;
    }
    std::uint64_t value = (element.data[0] & 0x80) != 0 ? ~std::uint64_t{0} : 0;
    for (std::size_t i = 0; i < element.size; ++i) {
        value = (value << 8) | element.data[i];
    }
    out = static_cast<std::int64_t>(value);
    return true;
}

bool BerReader::readBoolean(const BerElement& element, bool& out, std::string& error) {
    if (!expect(element, kTagBoolean, "BOOLEAN", error)) {
        return false;
    }
    if (element.size != 1) {
        error = "BOOLEAN of " + std::to_string(element.size) + " octets";
        return false;
    }
    out = element.data[0] != 0;
    return true;
}

bool BerReader::readReal(const BerElement& element, double& out, std::string& error) {
    if (!expect(element, kTagReal, "REAL", error)) {
        return false;
    }
    if (element.size == 0) {
        out = 0.0;
        return true;
    }
    const std::uint8_t first = element.data[0];
    if (element.size == 1) {
        switch (first) {
            case 0x40:
                out = std::numeric_limits<double>::infinity();
                return true;
            case 0x41:
                out = -std::numeric_limits<double>::infinity();
                return true;
            case 0x42:
                out = std::numeric_limits<double>::quiet_NaN();
                return true;
            case 0x43:
                out = -0.0;
                return true;
            default:
                break;
        }
    }
    if ((first & 0x80) == 0) {
        error = "REAL in decimal form is not supported";
        return false;
    }
    if ((first & 0x30) != 0) {
        error = "REAL in base 8 or 16 is not supported";
        return false;
    }
    std::size_t exponentOctets = (first & 0x03U) + 1;
    std::size_t offset = 1;
    if (exponentOctets == 4) {
        if (element.size < 2) {
            error = "REAL exponent cut off";
            return false;
        }
        exponentOctets = element.data[1];
        offset = 2;
    }
    // An exponent of more than 3 octets is beyond what a double can hold.
    if (exponentOctets == 0 || exponentOctets > 3 || element.size < offset + exponentOctets) {
        error = "REAL exponent malformed";
        return false;
    }
    std::int64_t exponent = (element.data[offset] & 0x80) != 0 ? -1 : 0;
    for (std::size_t i = 0; i < exponentOctets; ++i) {
        exponent = exponent * 256 + element.data[offset + i];
    }
    offset += exponentOctets;
    if (element.size - offset > kMaxIntegerOctets) {
        error = "REAL mantissa too long";
        return false;
    }
    std::uint64_t mantissa = 0;
    for (std::size_t i = offset; i < element.size; ++i) {
        mantissa = (mantissa << 8) | element.data[i];
    }
    // Ember+ providers write the exponent of the mantissa normalised to
    // 1.xxx (as IEEE 754 does), not of the mantissa as an integer: 1.5 is
    // sent as exponent 0, mantissa 3. The scale factor F cancels out.
    int bits = 0;
    for (std::uint64_t rest = mantissa; rest != 0; rest >>= 1) {
        ++bits;
    }
    const double magnitude = mantissa == 0 ? 0.0
                                           : std::ldexp(static_cast<double>(mantissa),
                                                        static_cast<int>(exponent) - (bits - 1));
    out = (first & 0x40) != 0 ? -magnitude : magnitude;
    return true;
}

bool BerReader::readUtf8(const BerElement& element, std::string& out, std::string& error) {
    if (!expect(element, kTagUtf8String, "UTF8String", error)) {
        return false;
    }
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    out.clear();
    out.reserve(element.size);
    std::size_t i = 0;
    while (i < element.size) {
        const std::size_t n = sequenceLength(element.data[i]);
        if (n == 0 || n > element.size - i || !validSequence(element.data + i, n)) {
            out += kReplacement;
            ++i;
            continue;
        }
        out.append(reinterpret_cast<const char*>(element.data + i), n);
        i += n;
    }
    return true;
}

bool BerReader::readRelativeOid(const BerElement& element, std::vector<std::uint32_t>& out,
                                std::string& error) {
    if (!expect(element, kTagRelativeOid, "RELATIVE-OID", error)) {
        return false;
    }
    out.clear();
    std::uint32_t value = 0;
    bool pending = false;
    for (std::size_t i = 0; i < element.size; ++i) {
        const std::uint8_t byte = element.data[i];
        if (value > (kMaxNumber >> 7)) {
            error = "RELATIVE-OID subidentifier too large";
            return false;
        }
        value = (value << 7) | (byte & 0x7FU);
        pending = (byte & 0x80) != 0;
        if (!pending) {
            out.push_back(value);
            value = 0;
        }
    }
    if (pending) {
        error = "RELATIVE-OID cut off";
        return false;
    }
    return true;
}

}  // namespace ember
