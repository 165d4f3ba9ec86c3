#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "Layout.h"

namespace panelhost {

// A layout file that cannot be used; what() names the file and the line.
class LayoutError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads the XML layout format described in docs/layout-format.md.
class LayoutParser {
  public:
    // Reads and checks the file at `path`; throws LayoutError.
    static Layout parseFile(const std::filesystem::path& path);

    // Checks `text` as the contents of a file called `file` (used in
    // messages); throws LayoutError.
    static Layout parseText(const std::string& text, const std::string& file);
};

}  // namespace panelhost
