// The field splitter, with the apostrophe and with other quote characters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "decodeTOVIString.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char quote = data[0] % 2 == 0 ? '\'' : static_cast<char>(data[0]);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const decodeTOVIString parsed(text.c_str(), quote);
    if (parsed.fieldCount < 0 || parsed.fieldCount > decodeTOVIString::kMaxFields) {
        __builtin_trap();
    }
    const std::size_t length = std::strlen(text.c_str());
    for (int i = 0; i < decodeTOVIString::kMaxFields; ++i) {
        const char* field = parsed.fields[i];
        const bool inBuffer =
            parsed.buffer != nullptr && field >= parsed.buffer && field <= parsed.buffer + length;
        if (!inBuffer && *field != '\0') {
            __builtin_trap();
        }
        if (i < parsed.fieldCount && std::strchr(field, quote) != nullptr && quote != '\0') {
            __builtin_trap();  // a quote character never appears in a field
        }
    }
    return 0;
}
