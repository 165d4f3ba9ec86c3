#include "PluginLibrary.h"

#include <dlfcn.h>

#include <cstring>

namespace panelhost {

PluginLibrary::PluginLibrary(const std::filesystem::path& file) : file_(file) {
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        throw PluginError("plugin " + file.string() +
                          " cannot be loaded: " + (reason != nullptr ? reason : "unknown reason"));
    }
    void* symbol = dlsym(handle_, kEntryPoint);
    if (symbol == nullptr) {
        dlclose(handle_);
        throw PluginError("plugin " + file.string() + " does not export " + kEntryPoint);
    }
    // The one place the untyped symbol becomes the factory's type.
    static_assert(sizeof entry_ == sizeof symbol);
    std::memcpy(&entry_, &symbol, sizeof entry_);
}

PluginLibrary::~PluginLibrary() {
    dlclose(handle_);
}

ScriptFactory PluginLibrary::factory() const {
    const Entry entry = entry_;
    return [entry](tovi_client_callback* host, const char* path) { return entry(host, path); };
}

}  // namespace panelhost
