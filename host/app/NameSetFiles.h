#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "DeviceCatalog.h"

namespace panelhost {

// The export-set and import-set commands: one database of a device (a name
// set) between the data file and a CSV file (NameSetCsv). They open the data
// file themselves, so they refuse to run while a panelhost uses it.
class NameSetFiles {
  public:
    // Which names: `set` is the database number on the device called `device`.
    struct Target {
        std::filesystem::path dataFile;
        DeviceCatalog catalog;
        std::string device;
        int set = 0;
        // The host's --store: empty for `dataFile`, else a database's URL.
        std::string store;
    };

    // Writes the set as CSV to `output`, or to `out` when `output` is "-".
    // Returns the exit code; problems go to `err`.
    static int exportSet(const Target& target, const std::filesystem::path& output,
                         std::ostream& out, std::ostream& err);

    // Reads `input` and, when every line is valid, writes all its names in one
    // transaction, recorded in the history. Reports each line on `out`;
    // writes nothing when any line is wrong. Returns the exit code.
    static int importSet(const Target& target, const std::filesystem::path& input,
                         std::ostream& out, std::ostream& err);
};

}  // namespace panelhost
