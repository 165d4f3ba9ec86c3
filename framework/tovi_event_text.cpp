#include "tovi_event_text.h"

#include <cstring>

namespace {
// The one empty text that every unset field points at. Whether `name` has
// been set is decided by identity with it, not by content.
const char kEmptyText[] = "";
}  // namespace

tovi_event_text::tovi_event_text(const char* text)
    : name(kEmptyText), value(kEmptyText), subCount(0), hasValue(false), buffer(nullptr) {
    for (const char*& sub : subs) {
        sub = kEmptyText;
    }
    const std::size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length == 0) {
        return;
    }
    buffer = new char[length + 1];
    std::memcpy(buffer, text, length + 1);

    for (std::size_t i = 0; i < length && subCount < kMaxSubs; ++i) {
        const char c = buffer[i];
        if (c != '.' && c != '=') {
            continue;
        }
        if (name == kEmptyText) {
            name = buffer;
        }
        buffer[i] = '\0';
        if (c == '.') {
            subs[subCount++] = buffer + i + 1;
            continue;
        }
        hasValue = true;
        value = buffer + i + 1;
        break;
    }
    if (name == kEmptyText) {
        name = buffer;
    }
}

tovi_event_text::~tovi_event_text() { delete[] buffer; }
