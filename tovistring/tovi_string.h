#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// A byte string that always ends in NUL. Texts of up to kInlineCapacity
// characters are kept inside the object and never touch the heap, so a
// source name and most command lines cost no allocation.
//
// Place markers are "%1" to "%9": a '%' followed by one digit 1 to 9.
class tovi_string {
public:
    // Longest text held inline. 22 characters fit in the 24 bytes of storage
    // next to the terminating NUL and the size byte.
    static constexpr unsigned kInlineCapacity = 22;

    tovi_string() noexcept;
    tovi_string(const char* text);  // NOLINT: texts convert implicitly, as callers expect
    tovi_string(const char* text, std::size_t length);
    // Text of `value` in `base` (2 to 36), padded on the left with `fill`
    // (a blank when `fill` is NUL) to at least `width` characters.
    tovi_string(int value, char fill, unsigned width, int base);
    tovi_string(const tovi_string& other);
    tovi_string(tovi_string&& other) noexcept;
    virtual ~tovi_string();

    tovi_string& operator=(const tovi_string& other);
    tovi_string& operator=(tovi_string&& other) noexcept;
    tovi_string& operator=(const char* text);
    tovi_string& operator+=(const tovi_string& other);
    tovi_string& operator+=(const char* text);
    tovi_string& operator+=(char c);

    // A NUL-terminated view, valid until the string is next changed or dies.
    operator const char*() const noexcept { return data(); }
    const char* data() const noexcept;
    unsigned length() const noexcept;
    bool isEmpty() const noexcept { return length() == 0; }

    // The integer the whole text denotes in decimal (an optional sign, then
    // digits, nothing else, within int range); 0 for any other text.
    int toInt() const noexcept;
    // As toInt(), and tells in `ok` whether the text was such an integer.
    int toInt(bool* ok) const noexcept;
    explicit operator int() const noexcept { return toInt(); }

    // Keeps the first `n` characters; nothing when the text is shorter.
    void truncate(unsigned n) noexcept;
    // The last `n` characters, or the whole text when it is shorter.
    tovi_string right(unsigned n) const;
    bool startsWith(const tovi_string& prefix) const noexcept;

    // A copy in which every occurrence of the lowest-numbered marker still
    // present is replaced by `text`; an unchanged copy when none is left.
    tovi_string arg(const tovi_string& text) const;
    // As arg(text), with the number formatted as the numeric constructor does.
    tovi_string arg(int value, char fill, unsigned width, int base) const;
    // Fills the markers in one pass: the lowest-numbered marker present takes
    // the first value, the next-lowest the second, and so on. Text taken from
    // the values is never scanned for markers, so it arrives exactly as given.
    // Markers beyond the last value stay as they are.
    tovi_string arg(std::initializer_list<const char*> values) const;

    // Splits at the first `sep`: the text before it into `left`, the text
    // after it into `right`. Without `sep`, the whole text goes to `left` and
    // `right` becomes empty. Returns whether `sep` was found.
    bool split(char sep, tovi_string& left, tovi_string& right) const;

private:
    // Heap form: the pointer, length and capacity live at the start of the
    // storage; the last byte of the storage tells the two forms apart.
    struct HeapRep {
        char* data;
        std::uint32_t length;
        std::uint32_t capacity;
    };
    static constexpr std::size_t kStorageBytes = kInlineCapacity + 2;
    static constexpr unsigned char kHeapTag = 0xFF;
    static_assert(sizeof(HeapRep) < kStorageBytes, "the tag byte must not overlap the heap form");

    bool isInline() const noexcept { return storage_[kStorageBytes - 1] != kHeapTag; }
    HeapRep heapRep() const noexcept;
    void setHeapRep(const HeapRep& rep) noexcept;
    char* mutableData() noexcept;
    // Makes room for `length` characters, keeping the first `keep` of the
    // current text, and sets the length; the caller writes the characters.
    char* resize(std::size_t length, std::size_t keep);
    // Whether `text` points into this string's own characters.
    bool overlaps(const char* text) const noexcept;
    // Both copy safely also when `text` lies inside this string.
    void assign(const char* text, std::size_t length);
    void append(const char* text, std::size_t length);
    void release() noexcept;

    alignas(void*) unsigned char storage_[kStorageBytes];

    friend class tovi_string_layout;
};

// The inline storage sits right after the vtable pointer: one pointer and 24
// bytes per string, which keeps a panel's 1,300 strings compact.
class tovi_string_layout {
    static_assert(sizeof(tovi_string) == sizeof(void*) + tovi_string::kStorageBytes,
                  "tovi_string must be one pointer plus its inline storage");
};

tovi_string operator+(const tovi_string& a, const tovi_string& b);
tovi_string operator+(const tovi_string& a, const char* b);
tovi_string operator+(const char* a, const tovi_string& b);
// Adding a number would otherwise compile as pointer arithmetic on the view.
tovi_string operator+(const tovi_string& a, int b) = delete;

bool operator==(const tovi_string& a, const tovi_string& b) noexcept;
bool operator==(const tovi_string& a, const char* b) noexcept;
bool operator==(const char* a, const tovi_string& b) noexcept;
// True when the text denotes `value` as toInt() reads it.
bool operator==(const tovi_string& a, int value) noexcept;
bool operator!=(const tovi_string& a, const tovi_string& b) noexcept;
bool operator!=(const tovi_string& a, const char* b) noexcept;
bool operator!=(const char* a, const tovi_string& b) noexcept;
bool operator!=(const tovi_string& a, int value) noexcept;
