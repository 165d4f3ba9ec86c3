#include "FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace panelhost {
namespace {

// Read and write for the owner, read for the others, like the data file.
constexpr mode_t kLockFileMode = 0644;

}  // namespace

FileLock::FileLock(const std::filesystem::path& file) {
    // Close-on-exec: a child process must not keep the lock alive.
    fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kLockFileMode);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), file.string());
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        throw std::system_error(error, std::generic_category(), file.string());
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

}  // namespace panelhost
