#include "NameSetFiles.h"

#include <fstream>
#include <memory>

#include "NameSeed.h"
#include "NameSetCsv.h"
#include "OpenNameStore.h"

namespace panelhost {
namespace {

constexpr int kFailure = 1;
constexpr int kInvalidInput = 2;

// The device of `target` when it has the database; otherwise reports why.
const DeviceSpec* findSet(const NameSetFiles::Target& target, std::ostream& err) {
    const DeviceSpec* device = target.catalog.byName(target.device);
    if (device == nullptr) {
        err << "panelhost: there is no device called \"" << target.device << "\"\n";
        return nullptr;
    }
    if (!device->hasDatabase(target.set)) {
        err << "panelhost: device \"" << target.device << "\" has no database (name set) "
            << target.set << "\n";
        return nullptr;
    }
    return device;
}

std::unique_ptr<NameStore> openStore(const NameSetFiles::Target& target, std::ostream& err) {
    try {
        return openNameStore(target.store, target.dataFile, NameSeed::forCatalog(target.catalog));
    } catch (const StoreError& error) {
        err << "panelhost: " << error.what() << "\n";
        return nullptr;
    }
}

}  // namespace

int NameSetFiles::exportSet(const Target& target, const std::filesystem::path& output,
                            std::ostream& out, std::ostream& err) {
    const DeviceSpec* device = findSet(target, err);
    const std::unique_ptr<NameStore> store = device ? openStore(target, err) : nullptr;
    if (!store) {
        return kFailure;
    }
    std::vector<std::string> names;
    for (int index = 1; index <= device->entries; ++index) {
        names.push_back(store->name(device->name, target.set, index).value_or(""));
    }
    const std::string csv = NameSetCsv::write(names);
    if (output == "-") {
        out << csv;
        return out ? 0 : kFailure;
    }
    std::ofstream file(output, std::ios::binary);
    file << csv;
    if (!file) {
        err << "panelhost: " << output.string() << " cannot be written\n";
        return kFailure;
    }
    return 0;
}

int NameSetFiles::importSet(const Target& target, const std::filesystem::path& input,
                            std::ostream& out, std::ostream& err) {
    const DeviceSpec* device = findSet(target, err);
    if (device == nullptr) {
        return kFailure;
    }
    std::ifstream file(input, std::ios::binary);
    if (!file) {
        err << "panelhost: " << input.string() << " cannot be read\n";
        return kFailure;
    }
    const NameSetCsv::Report report =
        NameSetCsv::read(file, device->entries, NameSetCsv::kLongestName);
    for (const std::string& line : report.lines) {
        out << input.string() << ": " << line << "\n";
    }
    if (!report.valid) {
        err << "panelhost: " << input.string() << " has invalid lines; nothing was written\n";
        return kInvalidInput;
    }
    const std::unique_ptr<NameStore> store = openStore(target, err);
    if (!store) {
        return kFailure;
    }
    const std::string who = "csv import " + input.filename().string();
    std::vector<NameWrite> writes;
    for (const NameSetCsv::Row& row : report.rows) {
        writes.push_back(
            NameWrite{device->name, device->number, target.set, row.source, row.name, who, 0});
    }
    try {
        store->writeBatch(NameBatch{0, "", who, "import",
                                    input.filename().string() + " into database " +
                                        std::to_string(target.set) + " of " + device->name,
                                    0},
                          writes);
    } catch (const StoreError& error) {
        err << "panelhost: " << error.what() << "; nothing was written\n";
        return kFailure;
    }
    out << "panelhost: " << writes.size() << " names written to name set " << target.set << " of \""
        << device->name << "\"\n";
    return 0;
}

}  // namespace panelhost
