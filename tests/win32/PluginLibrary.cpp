#include "PluginLibrary.h"

#include <array>

namespace {
// Long enough for any path this program runs from.
constexpr DWORD kPathCapacity = 4096;
}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
    if (module_ == nullptr) {
        error_ =
            "LoadLibrary(\"" + path + "\") failed with error " + std::to_string(GetLastError());
    }
}

PluginLibrary::~PluginLibrary() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
}

PluginLibrary::Factory PluginLibrary::factory(const char* name) const {
    if (module_ == nullptr) {
        return nullptr;
    }
    // GetProcAddress returns a generic function pointer; the export's type
    // is the factory's, and it is fixed here once.
    const FARPROC symbol = GetProcAddress(module_, name);
    return reinterpret_cast<Factory>(reinterpret_cast<void (*)()>(symbol));
}

std::string PluginLibrary::besideProgram(const std::string& fileName) {
    std::array<char, kPathCapacity> program{};
    const DWORD length = GetModuleFileNameA(nullptr, program.data(), kPathCapacity);
    std::string folder(program.data(), length);
    const std::string::size_type slash = folder.find_last_of("\\/");
    folder.erase(slash == std::string::npos ? 0 : slash + 1);
    return folder + fileName;
}
