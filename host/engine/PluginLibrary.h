#pragma once

#include <filesystem>
#include <stdexcept>

#include "HostEngine.h"

namespace panelhost {

// A plugin that cannot be used; what() names the file and the reason.
class PluginError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A loaded panel plugin: a shared library exporting
// load_tovi_client_script. It stays loaded while the object lives, so every
// script it made must be destroyed before it.
class PluginLibrary {
  public:
    // The plugin's export, by its plain name.
    static constexpr const char* kEntryPoint = "load_tovi_client_script";

    // Loads `file`; throws PluginError when it cannot be loaded or lacks
    // the export.
    explicit PluginLibrary(const std::filesystem::path& file);
    ~PluginLibrary();

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The plugin's factory; valid while this object lives.
    ScriptFactory factory() const;

    const std::filesystem::path& file() const { return file_; }

  private:
    using Entry = tovi_client_callback* (*)(tovi_client_callback*, const char*);

    std::filesystem::path file_;
    void* handle_ = nullptr;
    Entry entry_ = nullptr;
};

}  // namespace panelhost
