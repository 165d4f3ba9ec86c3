#include "SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace tsl {
namespace {

struct Speed {
    int baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {{1200, B1200},   {2400, B2400},     {4800, B4800},
                             {9600, B9600},   {19200, B19200},   {38400, B38400},
                             {57600, B57600}, {115200, B115200}, {230400, B230400}};

std::string errnoText(int error) {
    return std::system_category().message(error);
}

speed_t speedCode(int baud) {
    for (const Speed& s : kSpeeds) {
        if (s.baud == baud) {
            return s.code;
        }
    }
    return B0;
}

// What a line's termios say, in SerialSettings form ("?" for a speed that
// is none of ours).
std::string describeLine(const termios& t) {
    const speed_t code = cfgetospeed(&t);
    std::string baud = "?";
    for (const Speed& s : kSpeeds) {
        if (s.code == code) {
            baud = std::to_string(s.baud);
        }
    }
    const char* bits = (t.c_cflag & CSIZE) == CS8 ? "8" : (t.c_cflag & CSIZE) == CS7 ? "7" : "?";
    const char parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    return baud + " " + bits + parity + ((t.c_cflag & CSTOPB) != 0 ? "2" : "1");
}

// "CALL: reason" for the errno a failed call left.
std::string failed(const char* call) {
    return std::string(call) + ": " + errnoText(errno);
}

// Sets `t` to raw 8-bit bytes at the settings' speed, parity and stop bits;
// false with the failing call named when the speed is refused.
bool applySettings(termios& t, const SerialSettings& settings, std::string& error) {
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (settings.parity != SerialSettings::Parity::None) {
        t.c_cflag |= PARENB;
    }
    if (settings.parity == SerialSettings::Parity::Odd) {
        t.c_cflag |= PARODD;
    }
    if (settings.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    if (cfsetispeed(&t, speedCode(settings.baud)) != 0) {
        error = failed("cfsetispeed");
        return false;
    }
    if (cfsetospeed(&t, speedCode(settings.baud)) != 0) {
        error = failed("cfsetospeed");
        return false;
    }
    return true;
}

}  // namespace

SerialPort::~SerialPort() {
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void SerialPort::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SerialPort::supportedBaud(int baud) {
    return speedCode(baud) != B0;
}

SerialPort SerialPort::open(const std::string& device, const SerialSettings& settings,
                            Failure& failure, std::string& error, std::string& kept) {
    failure = Failure::Unavailable;
    SerialPort port(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!port.valid()) {
        const int e = errno;
        if (e == EISDIR) {
            failure = Failure::NotASerialDevice;
        }
        error = device + " cannot be opened: " + errnoText(e);
        return SerialPort();
    }
    termios t{};
    if (tcgetattr(port.fd_, &t) != 0) {
        const int e = errno;
        if (e == ENOTTY) {
            failure = Failure::NotASerialDevice;
            error = device + " is not a serial device (" + errnoText(e) + ")";
        } else {
            error = device + ": its line settings cannot be read: " + errnoText(e);
        }
        return SerialPort();
    }
    std::string why;
    if (applySettings(t, settings, why)) {
        if (tcsetattr(port.fd_, TCSANOW, &t) != 0) {
            why = failed("tcsetattr");
        } else if (tcgetattr(port.fd_, &t) != 0) {
            why = failed("tcgetattr");
        }
    }
    if (!why.empty()) {
        error = device + " does not take " + settings.describe() + ": " + why;
        return SerialPort();
    }
    // What the displays were sent before is of no interest any more.
    if (tcflush(port.fd_, TCIOFLUSH) != 0) {
        why = failed("tcflush");
        error = device + ": its buffers cannot be emptied: " + why;
        return SerialPort();
    }
    kept = describeLine(t);
    failure = Failure::None;
    error.clear();
    return port;
}

bool SerialPort::writeAll(const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds timeout,
                          std::string& error) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            error = errnoText(errno);
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = "the line took nothing for " + std::to_string(timeout.count()) + " ms";
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0 &&
            (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            error = "the line hung up";
            return false;
        }
    }
    return true;
}

bool SerialPort::hungUp(std::string& why) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) {
        return false;
    }
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        why = "it hung up";
        return true;
    }
    if (tcflush(fd_, TCIFLUSH) != 0) {
        why = failed("tcflush");
        return true;
    }
    return false;
}

}  // namespace tsl
