#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace panelhost {

// Copies lines to the console on a thread of its own, so that no caller
// ever waits for a console that is slow or not read at all (`panelhost |
// less` left alone, a stalled journal). Each line is written as one line,
// whatever it holds: its control characters (a line break; a NUL, which
// the journal also takes for the end of a line; a terminal's escape) as
// escapes (ControlCharacters::escaped), so that no text logged from
// outside can pose as a line of the host's own. Lines wait in a bounded
// queue; when it is full the oldest line makes room, and `onDropped` is
// told how many went when the console catches up (and, while it stays
// stuck, every kReportPeriod), so the host can say so in its log. The
// console is a copy of the standard error the process had when the writer
// was made. write() is thread-safe and never blocks on the console;
// `onDropped` is called on the writer's thread with no lock held.
class ConsoleWriter {
  public:
    using DroppedCallback = std::function<void(std::uint64_t count)>;

    // Lines kept for a console that does not keep up: a few seconds of
    // --verbose on a busy wall.
    static constexpr std::size_t kCapacity = 2000;
    // How often lines still being dropped are reported while the console
    // stays stuck.
    static constexpr std::chrono::seconds kReportPeriod{10};
    // How long the end waits for a console that takes nothing.
    static constexpr std::chrono::milliseconds kStopWait{500};

    // Throws std::system_error when the writer cannot be set up.
    explicit ConsoleWriter(DroppedCallback onDropped);
    // Writes what is queued while the console takes it, then ends the thread.
    ~ConsoleWriter();

    ConsoleWriter(const ConsoleWriter&) = delete;
    ConsoleWriter& operator=(const ConsoleWriter&) = delete;

    // Queues `line` (without its line end) to be written escaped, as one line.
    void write(std::string line);

  private:
    void run();
    bool writeAll(const std::string& text);
    bool waitWritable();
    void report(bool caughtUp);

    const DroppedCallback onDropped_;
    int console_ = -1;
    // Wakes a writer that waits for the console when the end comes.
    int wake_ = -1;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> lines_;
    std::uint64_t dropped_ = 0;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point lastReport_;
    std::thread thread_;
};

}  // namespace panelhost
