#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ScriptCallObserver.h"

namespace panelhost {

// Catches what the process writes to standard error, where a plugin writes
// its debug lines: a pipe replaces file descriptor 2, and a reader thread
// hands every line to a sink (which copies it to the console as it sees
// fit), tagged with the panel instance whose script was running when it was
// written (0 outside scripts). When a script call ends, the capture waits
// until everything written during it has been handed on, so debug lines
// take their place in the log before anything that happens after the call.
class StderrCapture : public ScriptCallObserver {
  public:
    using LineSink = std::function<void(int instance, const std::string& line)>;

    // Longest a script call's end waits for the reader.
    static constexpr int kSyncTimeoutMs = 1000;

    // Starts capturing; throws std::system_error when the pipe cannot be set
    // up. `sink` is called on the reader thread and must not block: a script
    // call's end waits for it.
    explicit StderrCapture(LineSink sink);
    // Puts the original standard error back and ends the reader.
    ~StderrCapture() override;

    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    void enteringScript(int instance) override;
    void leftScript(int instance) override;

  private:
    void read();
    void emit(std::string& pending);
    void writeAll(int fd, const std::string& text) const;

    LineSink sink_;
    int original_ = -1;
    int readEnd_ = -1;
    std::atomic<int> instance_{0};
    std::mutex mutex_;
    std::condition_variable synced_;
    std::uint64_t marksSent_ = 0;
    std::uint64_t marksSeen_ = 0;
    std::thread reader_;
};

}  // namespace panelhost
