#pragma once

#include <filesystem>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>

namespace CLI {
class App;
}

namespace panelhost {

// A configuration file that cannot be used; what() is "FILE:LINE: reason"
// (or "FILE: reason" when the file cannot be read at all).
class ConfigFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The settings file of the host, in TOML: every option of the command line
// has a key of its long name without the dashes (`port = 8080`, `verbose =
// true`, `tsl = ["udp:10.0.0.5:8900"]`), found from the command line's own
// definitions so a new option has its key at once. Only the options of the
// command itself have keys, not those of its subcommands, nor --config,
// --print-config and --help. Pure functions of the arguments: any thread,
// one App at a time.
class ConfigFile {
  public:
    // Where the host looks when no --config is given; used only when it exists.
    static constexpr const char* kDefaultPath = "/etc/panelhost/panelhost.toml";

    // Gives every key of `file` to the option of `app` it names, unless the
    // command line (already parsed into `app`) gave that option: the command
    // line wins. Checks each value as the command line would. Throws
    // ConfigFileError for a file that cannot be read or parsed, an unknown
    // key, a section, or a bad value, saying the file, the line and why.
    static void apply(CLI::App& app, const std::filesystem::path& file);

    // The value of every keyed option in force, as TOML values by key; an
    // option with no value (not given, no default) is left out.
    static std::map<std::string, std::string> values(const CLI::App& app);

    // A TOML file that sets what is in force, each key with its help as a
    // comment; options with no value appear commented out.
    static void print(const CLI::App& app, std::ostream& out);
};

}  // namespace panelhost
