#include "SqliteConnection.h"

#include <sqlite3.h>

namespace panelhost {

SqliteConnection::SqliteConnection(const std::filesystem::path& file, bool create,
                                   int busyTimeoutMs)
    : file_(file) {
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError(file.string() + ": cannot be opened: " + reason);
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

SqliteConnection::~SqliteConnection() {
    sqlite3_close(db_);
}

void SqliteConnection::execute(const std::string& sql) const {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail("cannot run " + sql);
    }
}

void SqliteConnection::fail(const std::string& what) const {
    const int code = sqlite3_errcode(db_);
    std::string reason = sqlite3_errmsg(db_);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        reason = "it is in use by another process (is another panelhost running?)";
    }
    throw StoreError(file_.string() + ": " + what + ": " + reason);
}

void SqliteConnection::expectDone(int step, const std::string& what) const {
    if (step != SQLITE_DONE) {
        fail(what);
    }
}

void SqliteConnection::rollback() const {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace panelhost
