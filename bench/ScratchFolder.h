#pragma once

#include <filesystem>

// A fresh, uniquely named folder made in `parent`, removed with everything
// in it when the object goes. Throws std::system_error when it cannot be
// made.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::filesystem::path& parent);
    ~ScratchFolder();

    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};
