#include "StderrCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace panelhost {
namespace {

// Written by the host itself at the end of a script call; never shown.
constexpr char kMark[] = "\x1fpanelhost-sync\x1f";
constexpr std::size_t kMarkLength = sizeof kMark - 1;
constexpr std::size_t kChunk = 4096;

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

StderrCapture::StderrCapture(LineSink sink) : sink_(std::move(sink)) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        fail("cannot make a pipe for standard error");
    }
    std::fflush(stderr);
    original_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (original_ < 0 || dup2(ends[1], STDERR_FILENO) < 0) {
        close(ends[0]);
        close(ends[1]);
        fail("cannot redirect standard error");
    }
    close(ends[1]);
    readEnd_ = ends[0];
    reader_ = std::thread([this] { read(); });
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    // Putting the original back closes the pipe's last write end: the
    // reader sees its end after the last line.
    dup2(original_, STDERR_FILENO);
    reader_.join();
    close(readEnd_);
    close(original_);
}

void StderrCapture::enteringScript(int instance) {
    instance_ = instance;
}

void StderrCapture::leftScript(int) {
    std::fflush(stderr);
    std::uint64_t ticket = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ticket = ++marksSent_;
    }
    writeAll(STDERR_FILENO, kMark);
    std::unique_lock<std::mutex> lock(mutex_);
    synced_.wait_for(lock, std::chrono::milliseconds(kSyncTimeoutMs),
                     [this, ticket] { return marksSeen_ >= ticket; });
    instance_ = 0;
}

void StderrCapture::writeAll(int fd, const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

void StderrCapture::emit(std::string& pending) {
    if (!pending.empty() && pending.back() == '\r') {
        pending.pop_back();
    }
    sink_(instance_, pending);
    pending.clear();
}

void StderrCapture::read() {
    std::string pending;
    char chunk[kChunk];
    for (;;) {
        const ssize_t count = ::read(readEnd_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        pending.append(chunk, static_cast<std::size_t>(count));
        const std::string cuts = std::string("\n") + kMark[0];
        std::size_t from = 0;
        std::size_t cut = 0;
        while ((cut = pending.find_first_of(cuts, from)) != std::string::npos) {
            if (pending[cut] == '\n') {
                std::string line = pending.substr(0, cut);
                pending.erase(0, cut + 1);
                from = 0;
                emit(line);
                continue;
            }
            const std::size_t available = std::min(pending.size() - cut, kMarkLength);
            if (pending.compare(cut, available, kMark, available) != 0) {
                from = cut + 1;  // a mark character that belongs to the text
                continue;
            }
            if (available < kMarkLength) {
                break;  // the rest of a mark is still on its way
            }
            // What a script wrote without a line end ends with its call.
            std::string line = pending.substr(0, cut);
            pending.erase(0, cut + kMarkLength);
            from = 0;
            if (!line.empty()) {
                emit(line);
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            ++marksSeen_;
            synced_.notify_all();
        }
    }
    if (!pending.empty()) {
        emit(pending);
    }
}

}  // namespace panelhost
