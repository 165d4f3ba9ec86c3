#pragma once

#include "tovi_string.h"

// Walks the items of a tovi_stringlist in order. Valid while the list lives
// and is not changed.
class tovi_stringlistIterator {
public:
    explicit tovi_stringlistIterator(tovi_string* item) noexcept : item_(item) {}

    tovi_string& operator*() const noexcept { return *item_; }
    tovi_stringlistIterator& operator++() noexcept {
        ++item_;
        return *this;
    }
    bool operator!=(const tovi_stringlistIterator& other) const noexcept {
        return item_ != other.item_;
    }
    bool operator==(const tovi_stringlistIterator& other) const noexcept {
        return item_ == other.item_;
    }

private:
    tovi_string* item_;
};
