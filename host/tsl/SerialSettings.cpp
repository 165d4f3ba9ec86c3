#include "SerialSettings.h"

namespace tsl {

std::string SerialSettings::describe() const {
    const char parityLetter = parity == Parity::Even ? 'E' : parity == Parity::Odd ? 'O' : 'N';
    return std::to_string(baud) + " 8" + parityLetter + std::to_string(stopBits);
}

}  // namespace tsl
