#include "TslTally.h"

namespace tsl {
namespace {

constexpr unsigned kRedBit = static_cast<unsigned>(TallyColour::Red);
constexpr unsigned kGreenBit = static_cast<unsigned>(TallyColour::Green);

TallyColour either(TallyColour a, TallyColour b) {
    return static_cast<TallyColour>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

bool shows(TallyColour colour, unsigned bit) {
    return (static_cast<unsigned>(colour) & bit) != 0;
}

}  // namespace

TslTally TslTally::from5(TallyColour right, TallyColour text, TallyColour left) {
    TslTally tally;
    tally.right = right;
    tally.text = text;
    tally.left = left;
    for (const TallyColour lamp : {right, text, left}) {
        if (shows(lamp, kRedBit)) {
            tally.tallies31 |= kTally1;
        }
        if (shows(lamp, kGreenBit)) {
            tally.tallies31 |= kTally2;
        }
    }
    return tally;
}

TslTally TslTally::from31(std::uint8_t tallies) {
    TslTally tally;
    tally.tallies31 = tallies & kAllTallies31;
    const unsigned colour =
        ((tallies & kTally1) != 0 ? kRedBit : 0) | ((tallies & kTally2) != 0 ? kGreenBit : 0);
    tally.right = static_cast<TallyColour>(colour);
    tally.left = tally.right;
    return tally;
}

TslTally TslTally::combined(const TslTally& other) const {
    TslTally sum;
    sum.right = either(right, other.right);
    sum.text = either(text, other.text);
    sum.left = either(left, other.left);
    sum.tallies31 = tallies31 | other.tallies31;
    return sum;
}

bool TslTally::anyOn() const {
    return right != TallyColour::Off || text != TallyColour::Off || left != TallyColour::Off ||
           tallies31 != 0;
}

const char* toString(TallyColour colour) {
    switch (colour) {
        case TallyColour::Off:
            return "off";
        case TallyColour::Red:
            return "red";
        case TallyColour::Green:
            return "green";
        case TallyColour::Amber:
            return "amber";
    }
    return "off";
}

}  // namespace tsl
