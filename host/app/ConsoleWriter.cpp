#include "ConsoleWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "ControlCharacters.h"

namespace panelhost {
namespace {

// A pipe that signals room takes this much without blocking the writer.
constexpr std::size_t kLargestWrite = PIPE_BUF;

int milliseconds(std::chrono::milliseconds duration) {
    return static_cast<int>(duration.count());
}

}  // namespace

ConsoleWriter::ConsoleWriter(DroppedCallback onDropped)
    : onDropped_(std::move(onDropped)), lastReport_(std::chrono::steady_clock::now()) {
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot set up the console");
    }
    // Without a standard error (closed at the start) every line is lost.
    console_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    thread_ = std::thread([this] { run(); });
}

ConsoleWriter::~ConsoleWriter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_one();
    // An eventfd this far from overflow always takes the write.
    const std::uint64_t one = 1;
    const ssize_t woken = ::write(wake_, &one, sizeof one);
    static_cast<void>(woken);
    thread_.join();
    if (console_ >= 0) {
        close(console_);
    }
    close(wake_);
}

void ConsoleWriter::write(std::string line) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (lines_.size() >= kCapacity) {
            lines_.pop_front();
            ++dropped_;
        }
        lines_.push_back(std::move(line));
    }
    ready_.notify_one();
}

void ConsoleWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ready_.wait(lock, [this] { return stopping_ || !lines_.empty(); });
        if (lines_.empty()) {
            return;
        }
        const std::string line = std::move(lines_.front());
        lines_.pop_front();
        lock.unlock();
        if (!writeAll(ControlCharacters::escaped(line) + "\n")) {
            return;  // the end has come and the console takes nothing
        }
        lock.lock();
        if (dropped_ > 0 && lines_.empty()) {
            lock.unlock();
            report(true);
            lock.lock();
        }
    }
}

bool ConsoleWriter::writeAll(const std::string& text) {
    if (console_ < 0) {
        return true;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        if (!waitWritable()) {
            return false;
        }
        const std::size_t size = std::min(text.size() - done, kLargestWrite);
        const ssize_t written = ::write(console_, text.data() + done, size);
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (written <= 0) {
            return true;  // a console that cannot be written to loses the line; the log keeps it
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool ConsoleWriter::waitWritable() {
    for (;;) {
        bool stopping = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping = stopping_;
        }
        pollfd watched[] = {{console_, POLLOUT, 0}, {wake_, POLLIN, 0}};
        // Once the end has come the wake-up stays signalled: only the
        // console is watched then.
        const nfds_t count = stopping ? 1 : 2;
        const int ready = poll(watched, count, milliseconds(stopping ? kStopWait : kReportPeriod));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || watched[0].revents != 0) {
            return true;  // writable, or an error the write reports
        }
        if (ready == 0 && stopping) {
            return false;
        }
        if (ready == 0) {
            report(false);
        }
    }
}

void ConsoleWriter::report(bool caughtUp) {
    std::uint64_t count = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        if (dropped_ == 0 || (!caughtUp && now - lastReport_ < kReportPeriod)) {
            return;
        }
        count = dropped_;
        dropped_ = 0;
        lastReport_ = now;
    }
    onDropped_(count);
}

}  // namespace panelhost
