#include "IntegrityCheck.h"

#include <sqlite3.h>

namespace {

constexpr const char* kDataFile = "panelhost.db";
constexpr const char* kLogSuffix = "-wal";

}  // namespace

std::string integrityCheck(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    std::string verdict;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        verdict = "cannot be opened: " + std::string(db != nullptr ? sqlite3_errmsg(db) : "");
        sqlite3_close(db);
        return verdict;
    }
    sqlite3_stmt* check = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
        sqlite3_step(check) == SQLITE_ROW) {
        verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
    } else {
        verdict = "cannot be checked: " + std::string(sqlite3_errmsg(db));
    }
    sqlite3_finalize(check);
    sqlite3_close(db);
    return verdict;
}

std::filesystem::path copyDataFile(const std::filesystem::path& data,
                                   const std::filesystem::path& to) {
    std::filesystem::create_directories(to);
    const std::filesystem::path log = data / (std::string(kDataFile) + kLogSuffix);
    if (std::filesystem::exists(log)) {
        std::filesystem::copy_file(log, to / log.filename(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::filesystem::copy_file(data / kDataFile, to / kDataFile,
                               std::filesystem::copy_options::overwrite_existing);
    return to / kDataFile;
}
