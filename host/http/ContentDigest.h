#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace panelhost {

// SHA-256 digests of texts the host sends, for naming a content (ETags, a
// state a page already holds) and for Content-Security-Policy sources. Not
// for secrets: those are kept with a key derivation function (AccountStore).
// Pure; any thread.
class ContentDigest {
  public:
    // The first `bytes` bytes (at most 32) of the digest of `text`, in hex.
    static std::string hex(std::string_view text, std::size_t bytes);
    // The whole digest of `text` in base64, as CSP's 'sha256-…' has it.
    static std::string base64(std::string_view text);
};

}  // namespace panelhost
