#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "QueuedSender.h"
#include "SerialPort.h"
#include "SerialSettings.h"

namespace tsl {

// Writes packets to a serial line (an RS-422 or RS-485 bus of displays
// behind a USB adapter, say) from its own thread, exactly as given: 3.1
// messages need no framing.
//
// A line that hangs up or fails (the adapter unplugged) is reported once,
// closed, and opened again every kReopenPeriod until it returns; packets
// meanwhile are dropped and counted, since the displays are sent the
// whole wall again once the line is back (TslTransportStatus::linkOpenings
// tells the output when). Never fatal after the start.
class SerialTslSender : public QueuedSender {
  public:
    static constexpr std::chrono::milliseconds kReopenPeriod{1000};
    // A line that takes no byte for this long is treated as failed: at
    // 38,400 baud a whole packet leaves in well under a second.
    static constexpr std::chrono::milliseconds kWriteTimeout{5000};

    // Opens the line at once. Throws std::invalid_argument when `device`
    // exists but is no serial device, a mistake no retry mends; any other
    // failure is reported in the status and retried. `name` is the target
    // as the status shows it.
    SerialTslSender(std::string name, std::string device, SerialSettings settings,
                    TslStatusCallback onStatus);
    // Stops the thread within about kWriteTimeout; packets still queued are
    // discarded (flush() first to send them).
    ~SerialTslSender() override;

    // The queued sender's status, with the times the line was opened.
    TslTransportStatus status() const override;

  private:
    void run();
    // Opens the line, at most once per kReopenPeriod; true when it is open.
    bool ensureOpen();
    void lose(const std::string& why);

    const std::string device_;
    const SerialSettings settings_;
    SerialPort port_;
    std::chrono::steady_clock::time_point nextOpen_{};
    std::atomic<std::uint64_t> openings_{0};
    std::thread worker_;
};

}  // namespace tsl
