#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

#include "tovi_string.h"

// Builds one command line in a buffer on the stack, moving to the heap only
// when a line outgrows kInlineBytes, so a line is never cut short. Text is
// copied exactly as given: nothing is escaped or scanned for markers.
template <std::size_t kInlineBytes>
class tovi_command_line {
public:
    tovi_command_line() noexcept { inline_[0] = '\0'; }
    tovi_command_line(const tovi_command_line&) = delete;
    tovi_command_line& operator=(const tovi_command_line&) = delete;

    tovi_command_line& operator<<(const char* text) {
        append(text, std::strlen(text));
        return *this;
    }
    tovi_command_line& operator<<(const tovi_string& text) {
        append(text.data(), text.length());
        return *this;
    }
    // Plain signed decimal.
    tovi_command_line& operator<<(int value) {
        char digits[kIntDigits];
        char* const end = digits + kIntDigits;
        char* p = end;
        unsigned magnitude =
            value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        do {
            *--p = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            *--p = '-';
        }
        append(p, static_cast<std::size_t>(end - p));
        return *this;
    }
    // A flag is sent as the digit 1 or 0.
    tovi_command_line& appendFlag(bool flag) { return *this << (flag ? "1" : "0"); }

    // The NUL-terminated line, writable because the host interface takes it
    // as void*; valid while the builder lives.
    char* text() noexcept { return heap_ ? heap_.get() : inline_; }
    std::size_t length() const noexcept { return length_; }

private:
    // A sign and the ten digits of the widest int.
    static constexpr std::size_t kIntDigits = 11;

    void append(const char* text, std::size_t count) {
        const std::size_t needed = length_ + count + 1;
        if (needed > capacity_) {
            std::size_t grown = capacity_ * 2 > needed ? capacity_ * 2 : needed;
            std::unique_ptr<char[]> block(new char[grown]);
            std::memcpy(block.get(), current(), length_);
            heap_ = std::move(block);
            capacity_ = grown;
        }
        char* out = heap_ ? heap_.get() : inline_;
        std::memcpy(out + length_, text, count);
        length_ += count;
        out[length_] = '\0';
    }
    const char* current() const noexcept { return heap_ ? heap_.get() : inline_; }

    char inline_[kInlineBytes];
    std::unique_ptr<char[]> heap_;
    std::size_t length_ = 0;
    std::size_t capacity_ = kInlineBytes;
};

// Lines made only of a command word and numbers ("ET", "IP", "IR", "IU",
// "RR") fit in 32 bytes for every number the panels send.
constexpr std::size_t kNumericLineBytes = 32;
// Lines with text fields: two quoted names and a property assignment fit.
constexpr std::size_t kTextLineBytes = 256;
