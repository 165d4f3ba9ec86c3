#pragma once

#include <cstdint>

#include "BerReader.h"

// The application tag numbers of the Glow schema and the tag helpers its
// encoder and decoder share.
namespace ember::glow {

constexpr std::uint32_t kRoot = 0;
constexpr std::uint32_t kParameter = 1;
constexpr std::uint32_t kCommand = 2;
constexpr std::uint32_t kNode = 3;
constexpr std::uint32_t kElementCollection = 4;
constexpr std::uint32_t kQualifiedParameter = 9;
constexpr std::uint32_t kQualifiedNode = 10;
constexpr std::uint32_t kRootElementCollection = 11;
constexpr std::uint32_t kMatrix = 13;
constexpr std::uint32_t kTarget = 14;
constexpr std::uint32_t kSource = 15;
constexpr std::uint32_t kConnection = 16;
constexpr std::uint32_t kQualifiedMatrix = 17;
constexpr std::uint32_t kLabel = 18;
// Universal SET and SEQUENCE, which wrap contents and collections.
constexpr std::uint32_t kUniversalSequence = 16;
constexpr std::uint32_t kUniversalSet = 17;
// GetDirectory's field mask asking for every field.
constexpr std::int32_t kFieldFlagsAll = -1;

inline BerTag application(std::uint32_t number) {
    return BerTag{BerTag::Class::Application, true, number};
}
inline BerTag context(std::uint32_t number) {
    return BerTag{BerTag::Class::Context, true, number};
}

}  // namespace ember::glow
