#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <string>

// Makes one read of a data file fail part-way, as an I/O error in the middle
// of a query would, through SQLite's own hooks and nothing in the code under
// test: every connection opened while the fault exists is watched, and the
// first statement whose text starts with `sql` is interrupted after it has
// delivered `rows` rows, so its step ends in SQLITE_INTERRUPT. One fault at
// a time per process; connections to watch must be opened after it is made
// and closed before it goes.
class SqliteReadFault {
  public:
    SqliteReadFault(std::string sql, int rows) : sql_(std::move(sql)), rows_(rows) {
        current_ = this;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&watch));
    }
    ~SqliteReadFault() {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&watch));
        current_ = nullptr;
    }
    SqliteReadFault(const SqliteReadFault&) = delete;
    SqliteReadFault& operator=(const SqliteReadFault&) = delete;

    // True once the statement has been interrupted.
    bool struck() const { return struck_; }

  private:
    static int watch(sqlite3* db, char**, const void*) {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT | SQLITE_TRACE_ROW, &trace, current_);
        // Called at every step of the statement's program that may loop.
        sqlite3_progress_handler(db, 1, &progress, current_);
        return SQLITE_OK;
    }

    static int trace(unsigned type, void* context, void* statement, void*) {
        auto* fault = static_cast<SqliteReadFault*>(context);
        if (type == SQLITE_TRACE_STMT) {
            const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
            fault->armed_ = !fault->struck_ && sql != nullptr &&
                            std::strncmp(sql, fault->sql_.c_str(), fault->sql_.size()) == 0;
            fault->delivered_ = 0;
        } else if (type == SQLITE_TRACE_ROW) {
            ++fault->delivered_;
        }
        return 0;
    }

    static int progress(void* context) {
        auto* fault = static_cast<SqliteReadFault*>(context);
        if (!fault->armed_ || fault->delivered_ < fault->rows_) {
            return 0;
        }
        fault->armed_ = false;
        fault->struck_ = true;
        return 1;
    }

    static inline SqliteReadFault* current_ = nullptr;
    const std::string sql_;
    const int rows_;
    std::atomic<bool> armed_{false};
    std::atomic<int> delivered_{0};
    std::atomic<bool> struck_{false};
};
