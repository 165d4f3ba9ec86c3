#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "StoreError.h"

struct sqlite3;

namespace panelhost {

// One connection to a SQLite data file, and the steps every user of the
// file repeats: opening it with a busy timeout, running plain SQL, and
// turning any step that did not do what it should into a StoreError that
// names the file, what could not be done and SQLite's reason. The
// connection is closed with the object. Not thread-safe: one thread at a
// time uses it.
class SqliteConnection {
  public:
    // Marks a SQLite file as a panelhost data file ("TOVH"); the names and
    // the accounts both refuse a file without it.
    static constexpr std::int32_t kApplicationId = 0x544F5648;

    // Opens `file` for reading and writing, creating it when `create`; a
    // statement waits up to `busyTimeoutMs` while another connection
    // writes. Throws StoreError when the file cannot be opened.
    SqliteConnection(const std::filesystem::path& file, bool create, int busyTimeoutMs);
    ~SqliteConnection();

    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Stays owned here.
    sqlite3* handle() const { return db_; }
    const std::filesystem::path& file() const { return file_; }

    // Runs `sql` (one or more statements without results); throws
    // StoreError unless all of it ran.
    void execute(const std::string& sql) const;
    // Throws StoreError naming `what`, with SQLite's reason for the last
    // failure (another process's lock named as such).
    [[noreturn]] void fail(const std::string& what) const;
    // Throws StoreError naming `what` unless `step` is SQLITE_DONE.
    void expectDone(int step, const std::string& what) const;
    // Runs `body` between `begin` (e.g. "BEGIN IMMEDIATE") and COMMIT; rolls
    // back and rethrows when anything fails.
    template <typename Body>
    void transaction(const char* begin, Body&& body) const;

  private:
    void rollback() const;

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
};

template <typename Body>
void SqliteConnection::transaction(const char* begin, Body&& body) const {
    execute(begin);
    try {
        body();
        execute("COMMIT");
    } catch (...) {
        rollback();
        throw;
    }
}

}  // namespace panelhost
