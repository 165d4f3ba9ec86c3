#include "tovi_stringlist.h"

#include <cstring>
#include <utility>

namespace {
// First capacity of a list that grows; lists in this system are short.
constexpr std::size_t kInitialCapacity = 4;
}  // namespace

tovi_stringlist::tovi_stringlist(const tovi_string& text, char sep)
    : tovi_stringlist(text.data(), sep) {}

tovi_stringlist::tovi_stringlist(const char* text, char sep) {
    const char* const source = text == nullptr ? "" : text;
    const std::size_t total = std::strlen(source);
    if (total == 0) {
        return;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= total; ++i) {
        if (i == total || source[i] == sep) {
            *this << tovi_string(source + start, i - start);
            start = i + 1;
        }
    }
}

tovi_stringlist::tovi_stringlist(const tovi_stringlist& other) {
    reserve(other.count_);
    for (std::size_t i = 0; i < other.count_; ++i) {
        items_[i] = other.items_[i];
    }
    count_ = other.count_;
}

tovi_stringlist& tovi_stringlist::operator=(const tovi_stringlist& other) {
    if (this != &other) {
        tovi_stringlist copy(other);
        std::swap(items_, copy.items_);
        std::swap(count_, copy.count_);
        std::swap(capacity_, copy.capacity_);
    }
    return *this;
}

tovi_stringlist::~tovi_stringlist() { delete[] items_; }

tovi_stringlist& tovi_stringlist::operator<<(const tovi_string& item) {
    if (count_ == capacity_) {
        const tovi_string copy(item);  // `item` may be one of our own items
        reserve(capacity_ == 0 ? kInitialCapacity : capacity_ * 2);
        items_[count_++] = copy;
        return *this;
    }
    items_[count_++] = item;
    return *this;
}

tovi_string tovi_stringlist::toString(char sep) const {
    tovi_string joined;
    for (std::size_t i = 0; i < count_; ++i) {
        if (i != 0) {
            joined += sep;
        }
        joined += items_[i];
    }
    return joined;
}

void tovi_stringlist::reserve(std::size_t capacity) {
    if (capacity <= capacity_) {
        return;
    }
    tovi_string* grown = new tovi_string[capacity];
    for (std::size_t i = 0; i < count_; ++i) {
        grown[i] = std::move(items_[i]);
    }
    delete[] items_;
    items_ = grown;
    capacity_ = capacity;
}
