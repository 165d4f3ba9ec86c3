#include "decodeTOVIString.h"

#include <cstddef>
#include <cstring>

namespace {
const char kEmptyField[] = "";
constexpr char kSeparator = ' ';
}  // namespace

decodeTOVIString::decodeTOVIString(const char* text, char quoteChar)
    : fieldCount(0), buffer(nullptr), quote(quoteChar) {
    for (const char*& field : fields) {
        field = kEmptyField;
    }
    const std::size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length == 0) {
        return;
    }
    buffer = new char[length + 1];
    std::memcpy(buffer, text, length + 1);

    fields[0] = buffer;
    int current = 0;
    bool inGroup = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = buffer[i];
        const bool afterCut = i > 0 && buffer[i - 1] == '\0';
        bool startsField = false;
        if (c == quote) {
            buffer[i] = '\0';
            // Closing an empty group still yields a field: an empty one.
            startsField = inGroup && afterCut;
            inGroup = !inGroup;
        } else if (c == kSeparator && !inGroup) {
            buffer[i] = '\0';
        } else {
            startsField = afterCut;
        }
        if (startsField) {
            if (current + 1 == kMaxFields) {
                break;
            }
            fields[++current] = buffer + i;
        }
    }
    fieldCount = current + 1;
}

decodeTOVIString::~decodeTOVIString() { delete[] buffer; }
