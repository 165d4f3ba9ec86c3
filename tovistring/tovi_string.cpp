#include "tovi_string.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

constexpr int kMarkerCount = 9;  // "%1" to "%9"
// The length must fit the 32-bit length field, with room for the NUL.
constexpr std::uint64_t kMaxLength = UINT32_MAX - 1;

// The marker number (1 to 9) that starts at text[i], or 0.
int markerAt(const char* text, std::size_t length, std::size_t i) {
    if (text[i] != '%' || i + 1 >= length) {
        return 0;
    }
    const char digit = text[i + 1];
    return digit >= '1' && digit <= '9' ? digit - '0' : 0;
}

// Writes the digits of `value` in `base` backwards from `end`; returns the
// first character written. Works on the magnitude as unsigned so that
// INT_MIN needs no special case.
char* formatDigits(int value, int base, char* end) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    const unsigned radix = static_cast<unsigned>(base);
    char* p = end;
    do {
        *--p = kDigits[magnitude % radix];
        magnitude /= radix;
    } while (magnitude != 0);
    if (value < 0) {
        *--p = '-';
    }
    return p;
}

}  // namespace

tovi_string::tovi_string() noexcept : storage_{} {}

tovi_string::tovi_string(const char* text) : storage_{} {
    if (text != nullptr) {
        assign(text, std::strlen(text));
    }
}

tovi_string::tovi_string(const char* text, std::size_t length) : storage_{} {
    assign(text, length);
}

tovi_string::tovi_string(int value, char fill, unsigned width, int base) : storage_{} {
    if (base < 2 || base > 36) {
        base = 10;
    }
    // Enough for INT_MIN in base 2 and its sign.
    char digits[sizeof(int) * CHAR_BIT + 1];
    char* const end = digits + sizeof digits;
    const char* first = formatDigits(value, base, end);
    const std::size_t count = static_cast<std::size_t>(end - first);
    const std::size_t padding = width > count ? width - count : 0;
    char* out = resize(padding + count, 0);
    std::memset(out, fill == '\0' ? ' ' : fill, padding);
    std::memcpy(out + padding, first, count);
}

tovi_string::tovi_string(const tovi_string& other) : storage_{} {
    assign(other.data(), other.length());
}

tovi_string::tovi_string(tovi_string&& other) noexcept : storage_{} {
    std::memcpy(storage_, other.storage_, kStorageBytes);
    std::memset(other.storage_, 0, kStorageBytes);
}

tovi_string::~tovi_string() { release(); }

tovi_string& tovi_string::operator=(const tovi_string& other) {
    if (this != &other) {
        assign(other.data(), other.length());
    }
    return *this;
}

tovi_string& tovi_string::operator=(tovi_string&& other) noexcept {
    if (this != &other) {
        release();
        std::memcpy(storage_, other.storage_, kStorageBytes);
        std::memset(other.storage_, 0, kStorageBytes);
    }
    return *this;
}

tovi_string& tovi_string::operator=(const char* text) {
    assign(text, text == nullptr ? 0 : std::strlen(text));
    return *this;
}

tovi_string& tovi_string::operator+=(const tovi_string& other) {
    append(other.data(), other.length());
    return *this;
}

tovi_string& tovi_string::operator+=(const char* text) {
    if (text != nullptr) {
        append(text, std::strlen(text));
    }
    return *this;
}

tovi_string& tovi_string::operator+=(char c) {
    append(&c, 1);
    return *this;
}

const char* tovi_string::data() const noexcept {
    return isInline() ? reinterpret_cast<const char*>(storage_) : heapRep().data;
}

unsigned tovi_string::length() const noexcept {
    return isInline() ? storage_[kStorageBytes - 1] : heapRep().length;
}

int tovi_string::toInt() const noexcept { return toInt(nullptr); }

int tovi_string::toInt(bool* ok) const noexcept {
    const char* p = data();
    const char* const end = p + length();
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    bool valid = p != end;
    // Accumulate as a negative number: its range includes INT_MIN.
    long long value = 0;
    for (; valid && p != end; ++p) {
        if (*p < '0' || *p > '9') {
            valid = false;
            break;
        }
        value = value * 10 - (*p - '0');
        if (value < static_cast<long long>(INT_MIN)) {
            valid = false;
        }
    }
    if (valid && !negative) {
        value = -value;
        valid = value <= INT_MAX;
    }
    if (ok != nullptr) {
        *ok = valid;
    }
    return valid ? static_cast<int>(value) : 0;
}

void tovi_string::truncate(unsigned n) noexcept {
    if (n >= length()) {
        return;
    }
    if (isInline()) {
        storage_[n] = '\0';
        storage_[kStorageBytes - 1] = static_cast<unsigned char>(n);
        return;
    }
    HeapRep rep = heapRep();
    rep.data[n] = '\0';
    rep.length = n;
    setHeapRep(rep);
}

tovi_string tovi_string::right(unsigned n) const {
    const unsigned total = length();
    return n >= total ? *this : tovi_string(data() + (total - n), n);
}

bool tovi_string::startsWith(const tovi_string& prefix) const noexcept {
    return prefix.length() <= length() &&
           std::memcmp(data(), prefix.data(), prefix.length()) == 0;
}

tovi_string tovi_string::arg(const tovi_string& text) const {
    const char* const source = data();
    const std::size_t total = length();
    int lowest = kMarkerCount + 1;
    for (std::size_t i = 0; i < total; ++i) {
        const int marker = markerAt(source, total, i);
        if (marker != 0 && marker < lowest) {
            lowest = marker;
        }
    }
    if (lowest > kMarkerCount) {
        return *this;
    }
    tovi_string result;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < total; ++i) {
        if (markerAt(source, total, i) == lowest) {
            result.append(source + copied, i - copied);
            result.append(text.data(), text.length());
            copied = i + 2;
            ++i;
        }
    }
    result.append(source + copied, total - copied);
    return result;
}

tovi_string tovi_string::arg(int value, char fill, unsigned width, int base) const {
    return arg(tovi_string(value, fill, width, base));
}

tovi_string tovi_string::arg(std::initializer_list<const char*> values) const {
    const char* const source = data();
    const std::size_t total = length();
    bool present[kMarkerCount + 1] = {};
    for (std::size_t i = 0; i < total; ++i) {
        present[markerAt(source, total, i)] = true;
    }
    // The value each marker number takes: the n-th lowest marker present
    // takes the n-th value.
    const char* valueOf[kMarkerCount + 1] = {};
    const char* const* next = values.begin();
    for (int marker = 1; marker <= kMarkerCount && next != values.end(); ++marker) {
        if (present[marker]) {
            valueOf[marker] = *next++;
        }
    }

    std::size_t needed = total;
    for (std::size_t i = 0; i < total; ++i) {
        const int marker = markerAt(source, total, i);
        if (marker != 0 && valueOf[marker] != nullptr) {
            needed += std::strlen(valueOf[marker]);
            ++i;
        }
    }
    tovi_string result;
    char* out = result.resize(needed, 0);
    for (std::size_t i = 0; i < total; ++i) {
        const int marker = markerAt(source, total, i);
        if (marker != 0 && valueOf[marker] != nullptr) {
            const std::size_t count = std::strlen(valueOf[marker]);
            std::memcpy(out, valueOf[marker], count);
            out += count;
            ++i;
        } else {
            *out++ = source[i];
        }
    }
    result.truncate(static_cast<unsigned>(out - result.data()));
    return result;
}

bool tovi_string::split(char sep, tovi_string& left, tovi_string& right) const {
    const char* const source = data();
    const std::size_t total = length();
    const void* found = std::memchr(source, sep, total);
    if (found == nullptr) {
        const tovi_string whole(*this);
        left = whole;
        right = "";
        return false;
    }
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - source);
    tovi_string before(source, at);
    tovi_string after(source + at + 1, total - at - 1);
    left = static_cast<tovi_string&&>(before);
    right = static_cast<tovi_string&&>(after);
    return true;
}

tovi_string::HeapRep tovi_string::heapRep() const noexcept {
    HeapRep rep;
    std::memcpy(&rep, storage_, sizeof rep);
    return rep;
}

void tovi_string::setHeapRep(const HeapRep& rep) noexcept {
    std::memcpy(storage_, &rep, sizeof rep);
    storage_[kStorageBytes - 1] = kHeapTag;
}

char* tovi_string::mutableData() noexcept {
    return isInline() ? reinterpret_cast<char*>(storage_) : heapRep().data;
}

char* tovi_string::resize(std::size_t length, std::size_t keep) {
    if (length > kMaxLength) {
        throw std::bad_alloc();
    }
    if (length <= kInlineCapacity && isInline()) {
        storage_[length] = '\0';
        storage_[kStorageBytes - 1] = static_cast<unsigned char>(length);
        return reinterpret_cast<char*>(storage_);
    }
    if (!isInline() && length <= heapRep().capacity) {
        HeapRep rep = heapRep();
        rep.length = static_cast<std::uint32_t>(length);
        rep.data[length] = '\0';
        setHeapRep(rep);
        return rep.data;
    }
    // Grow geometrically so that repeated appends stay linear.
    std::uint64_t capacity = isInline() ? kInlineCapacity : heapRep().capacity;
    while (capacity < length) {
        capacity = capacity * 2 > kMaxLength ? kMaxLength : capacity * 2;
    }
    char* block = new char[static_cast<std::size_t>(capacity) + 1];
    std::memcpy(block, data(), keep);
    release();
    block[length] = '\0';
    setHeapRep({block, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(capacity)});
    return block;
}

bool tovi_string::overlaps(const char* text) const noexcept {
    const char* const begin = data();
    return text >= begin && text <= begin + length();
}

void tovi_string::assign(const char* text, std::size_t length) {
    if (length != 0 && overlaps(text)) {
        const tovi_string copy(text, length);
        assign(copy.data(), length);
        return;
    }
    char* out = resize(length, 0);
    if (length != 0) {
        std::memcpy(out, text, length);
    }
}

void tovi_string::append(const char* text, std::size_t count) {
    if (count != 0 && overlaps(text)) {
        const tovi_string copy(text, count);
        append(copy.data(), count);
        return;
    }
    const std::size_t old = length();
    char* out = resize(old + count, old);
    if (count != 0) {
        std::memcpy(out + old, text, count);
    }
}

void tovi_string::release() noexcept {
    if (!isInline()) {
        delete[] heapRep().data;
    }
    std::memset(storage_, 0, kStorageBytes);
}

tovi_string operator+(const tovi_string& a, const tovi_string& b) {
    tovi_string result(a);
    result += b;
    return result;
}

tovi_string operator+(const tovi_string& a, const char* b) {
    tovi_string result(a);
    result += b;
    return result;
}

tovi_string operator+(const char* a, const tovi_string& b) {
    tovi_string result(a);
    result += b;
    return result;
}

bool operator==(const tovi_string& a, const tovi_string& b) noexcept {
    return a.length() == b.length() && std::memcmp(a.data(), b.data(), a.length()) == 0;
}

bool operator==(const tovi_string& a, const char* b) noexcept {
    const char* text = b == nullptr ? "" : b;
    return std::strlen(text) == a.length() && std::memcmp(a.data(), text, a.length()) == 0;
}

bool operator==(const char* a, const tovi_string& b) noexcept { return b == a; }

bool operator==(const tovi_string& a, int value) noexcept {
    bool ok = false;
    return a.toInt(&ok) == value && ok;
}

bool operator!=(const tovi_string& a, const tovi_string& b) noexcept { return !(a == b); }
bool operator!=(const tovi_string& a, const char* b) noexcept { return !(a == b); }
bool operator!=(const char* a, const tovi_string& b) noexcept { return !(b == a); }
bool operator!=(const tovi_string& a, int value) noexcept { return !(a == value); }
