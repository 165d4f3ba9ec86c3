#pragma once

#include <filesystem>

namespace panelhost {

// An exclusive advisory lock (flock) on a file, held from construction until
// destruction, so that one process at a time uses what the file guards. The
// lock file is created when missing and left in place. Released by the
// system too when the process dies. Movable, not copyable; not thread-safe.
class FileLock {
  public:
    FileLock() = default;
    // Takes the lock without waiting. Throws std::system_error: with
    // std::errc::resource_unavailable_try_again (EWOULDBLOCK) when another
    // open file holds it, otherwise with why the file cannot be used.
    explicit FileLock(const std::filesystem::path& file);
    ~FileLock();

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace panelhost
