#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "SerialSettings.h"

namespace tsl {

// One open serial line in raw mode, set up with termios: the calls the
// serial sender needs, kept apart from its threading. Owns its descriptor
// and closes it on destruction; move-only; one thread at a time.
class SerialPort {
  public:
    // Why open() failed: a path that is no serial device is a configuration
    // mistake; anything else (missing, unplugged, no permission, refused
    // settings) may pass.
    enum class Failure { None, NotASerialDevice, Unavailable };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The speeds open() can set: the standard ones from 1200 to 230400.
    static bool supportedBaud(int baud);

    // Opens `device` without becoming its controlling terminal and without
    // waiting for a carrier, and sets it raw: 8 data bits, the parity, stop
    // bits and speed of `settings`, no flow control, modem lines ignored.
    // On failure the port is invalid, `failure` says which kind and `error`
    // is readable. `kept` is what the line reports after the set-up, in
    // SerialSettings::describe() form; a pseudo-terminal, or an adapter
    // without parity, reports less than was asked.
    static SerialPort open(const std::string& device, const SerialSettings& settings,
                           Failure& failure, std::string& error, std::string& kept);

    bool valid() const { return fd_ >= 0; }
    void close();

    // Writes all of `bytes`, waiting at most `timeout` for the line to take
    // them; false with `error` when it fails, hangs up or stalls.
    bool writeAll(const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds timeout,
                  std::string& error) const;

    // Without waiting: true, with `why`, when the line has hung up or failed
    // (its USB adapter unplugged, the far end of a pseudo-terminal closed,
    // its input cannot be discarded). Input from the displays is discarded:
    // nothing on the bus needs an answer.
    bool hungUp(std::string& why) const;

  private:
    explicit SerialPort(int fd) : fd_(fd) {}

    int fd_ = -1;
};

}  // namespace tsl
