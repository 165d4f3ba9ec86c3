#include "ContentDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace panelhost {
namespace {

using Digest = std::array<unsigned char, EVP_MAX_MD_SIZE>;

unsigned int digestOf(std::string_view text, Digest& digest) {
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        // Only an exhausted or broken crypto library fails here; a digest
        // of nothing would name every text alike.
        throw std::runtime_error("SHA-256 could not be computed");
    }
    return length;
}

}  // namespace

std::string ContentDigest::hex(std::string_view text, std::size_t bytes) {
    Digest digest{};
    const unsigned int length = digestOf(text, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string written;
    for (std::size_t i = 0; i < std::min<std::size_t>(bytes, length); ++i) {
        written += kHex[digest[i] >> 4];
        written += kHex[digest[i] & 0xf];
    }
    return written;
}

std::string ContentDigest::base64(std::string_view text) {
    Digest digest{};
    const unsigned int length = digestOf(text, digest);
    // Base64 makes four characters of every three bytes, plus the NUL.
    std::array<unsigned char, (EVP_MAX_MD_SIZE + 2) / 3 * 4 + 1> encoded{};
    const int written = EVP_EncodeBlock(encoded.data(), digest.data(), static_cast<int>(length));
    return std::string(reinterpret_cast<const char*>(encoded.data()),
                       static_cast<std::size_t>(std::max(written, 0)));
}

}  // namespace panelhost
