#pragma once

#include <cstddef>

#include "tovi_string.h"
#include "tovi_stringlistIterator.h"

// An ordered list of texts.
class tovi_stringlist {
public:
    tovi_stringlist() noexcept = default;
    // The items of `text` between the separators, empty items included: "a,,b"
    // gives "a", "" and "b". An empty text gives an empty list.
    tovi_stringlist(const tovi_string& text, char sep);
    // As above, reading a NUL-terminated text in place (null: empty list).
    tovi_stringlist(const char* text, char sep);
    tovi_stringlist(const tovi_stringlist& other);
    tovi_stringlist& operator=(const tovi_stringlist& other);
    virtual ~tovi_stringlist();

    tovi_stringlist& operator<<(const tovi_string& item);

    // The items joined with `sep` between them; an empty list gives "".
    tovi_string toString(char sep) const;

    std::size_t count() const noexcept { return count_; }
    const tovi_string& operator[](std::size_t i) const noexcept { return items_[i]; }

    tovi_stringlistIterator begin() noexcept { return tovi_stringlistIterator(items_); }
    tovi_stringlistIterator end() noexcept { return tovi_stringlistIterator(items_ + count_); }

private:
    void reserve(std::size_t capacity);

    tovi_string* items_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};
