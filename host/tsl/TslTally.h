#pragma once

#include <cstdint>

#include "TslEncoder.h"

namespace tsl {

// The tally lamps of one display as both protocol versions carry them: the
// 5.0 lamps (right-hand, text and left-hand, each off, red, green or amber)
// and the 3.1 tallies 1 to 4 (bits 0 to 3). What one version says is read
// into the other as studios wire them: 3.1 tally 1 is the red (programme)
// lamp, tally 2 the green (preview) lamp, both together amber, shown on the
// right- and left-hand lamps with the text tally off; from 5.0, tally 1 is
// on while any lamp shows red (or amber), tally 2 while any shows green (or
// amber), tallies 3 and 4 stay off. A plain value.
struct TslTally {
    static constexpr std::uint8_t kTally1 = 0x01;
    static constexpr std::uint8_t kTally2 = 0x02;
    static constexpr std::uint8_t kAllTallies31 = 0x0F;

    TallyColour right = TallyColour::Off;
    TallyColour text = TallyColour::Off;
    TallyColour left = TallyColour::Off;
    std::uint8_t tallies31 = 0;

    // As a 5.0 sender gave it.
    static TslTally from5(TallyColour right, TallyColour text, TallyColour left);
    // As a 3.1 sender gave it (bits above tally 4 are ignored).
    static TslTally from31(std::uint8_t tallies);

    // Every lamp that either shows: colours add up (red and green give
    // amber), as lamps driven by two senders would light.
    TslTally combined(const TslTally& other) const;
    bool anyOn() const;

    bool operator==(const TslTally& other) const {
        return right == other.right && text == other.text && left == other.left &&
               tallies31 == other.tallies31;
    }
    bool operator!=(const TslTally& other) const { return !(*this == other); }
};

// "off", "red", "green" or "amber".
const char* toString(TallyColour colour);

}  // namespace tsl
