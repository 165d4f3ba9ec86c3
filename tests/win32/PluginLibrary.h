#pragma once

#include <windows.h>

#include <string>

#include "tovi_client_callback.h"

// A panel plugin DLL loaded into this process, as the production host loads
// it. The library is unloaded when this object is destroyed, so every script
// object its factory made must be destroyed before.
class PluginLibrary {
  public:
    using Factory = tovi_client_callback* (*)(tovi_client_callback* host, const char* path);

    // Loads the DLL at `path`; loaded() tells whether that worked.
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    // Why loading failed; empty when it did not.
    const std::string& error() const { return error_; }
    // The export `name` as a script factory; null when the DLL lacks it.
    Factory factory(const char* name) const;

    // The full path of `fileName` in the folder of this program.
    static std::string besideProgram(const std::string& fileName);

  private:
    HMODULE module_;
    std::string error_;
};
