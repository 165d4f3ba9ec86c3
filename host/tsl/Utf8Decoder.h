#pragma once

#include <string>
#include <string_view>

namespace tsl {

// Decodes UTF-8 into UTF-16 (surrogate pairs above U+FFFF). Every maximal
// ill-formed subsequence (stray continuation byte, truncated or overlong
// sequence, encoded surrogate, value above U+10FFFF) becomes one U+FFFD,
// so no byte of the input is silently lost or misread.
std::u16string decodeUtf8ToUtf16(std::string_view utf8);

// True when every byte is below 0x80, i.e. the text is plain ASCII.
bool isAscii(std::string_view text);

}  // namespace tsl
