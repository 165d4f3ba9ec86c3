#pragma once

#include <string>

namespace tsl {

// How a serial line to displays is set up: always 8 data bits (a 3.1
// header byte uses the eighth), no flow control; speed, parity and stop
// bits as the displays on the bus expect. A plain value.
struct SerialSettings {
    enum class Parity { None, Even, Odd };

    // What 3.1 displays on RS-422 and RS-485 buses expect: 38,400 baud, 8E1.
    static constexpr int kDefaultBaud = 38400;
    static constexpr Parity kDefaultParity = Parity::Even;
    static constexpr int kDefaultStopBits = 1;

    int baud = kDefaultBaud;
    Parity parity = kDefaultParity;
    int stopBits = kDefaultStopBits;

    // "38400 8E1".
    std::string describe() const;

    bool operator==(const SerialSettings& other) const {
        return baud == other.baud && parity == other.parity && stopBits == other.stopBits;
    }
};

}  // namespace tsl
