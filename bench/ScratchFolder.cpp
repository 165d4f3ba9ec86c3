#include "ScratchFolder.h"

#include <stdlib.h>

#include <cerrno>
#include <string>
#include <system_error>

ScratchFolder::ScratchFolder(const std::filesystem::path& parent) {
    std::string pattern = (parent / "nameset-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot make " + pattern);
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
