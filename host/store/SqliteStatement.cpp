#include "SqliteStatement.h"

#include <sqlite3.h>

#include <limits>

#include "StoreError.h"

namespace panelhost {
namespace {

// SQLite takes a value's length as an int; anything longer is refused here
// as SQLite would refuse it.
constexpr std::size_t kMaxBoundBytes = static_cast<std::size_t>(std::numeric_limits<int>::max());

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
        statement_ = nullptr;
    }
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(statement_);
}

SqliteStatement& SqliteStatement::bind(int position, const std::string& text) {
    if (statement_ != nullptr) {
        check(text.size() > kMaxBoundBytes
                  ? SQLITE_TOOBIG
                  : sqlite3_bind_text(statement_, position, text.data(),
                                      static_cast<int>(text.size()), SQLITE_TRANSIENT),
              "sqlite3_bind_text", position);
    }
    return *this;
}

SqliteStatement& SqliteStatement::bind(int position, long long value) {
    if (statement_ != nullptr) {
        check(sqlite3_bind_int64(statement_, position, value), "sqlite3_bind_int64", position);
    }
    return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int position, const std::vector<unsigned char>& bytes) {
    if (statement_ != nullptr) {
        check(bytes.size() > kMaxBoundBytes
                  ? SQLITE_TOOBIG
                  : sqlite3_bind_blob(statement_, position, bytes.data(),
                                      static_cast<int>(bytes.size()), SQLITE_TRANSIENT),
              "sqlite3_bind_blob", position);
    }
    return *this;
}

void SqliteStatement::check(int result, const char* call, int position) const {
    if (result != SQLITE_OK) {
        const char* file = sqlite3_db_filename(db_, "main");
        throw StoreError(std::string(file == nullptr || *file == '\0' ? "the data file" : file) +
                         ": " + call + "(?" + std::to_string(position) +
                         "): " + sqlite3_errstr(result));
    }
}

int SqliteStatement::step() {
    return statement_ == nullptr ? sqlite3_errcode(db_) : sqlite3_step(statement_);
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::string SqliteStatement::text(int column) const {
    const unsigned char* value = sqlite3_column_text(statement_, column);
    return value == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(value),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::vector<unsigned char> SqliteStatement::blob(int column) const {
    const auto* value = static_cast<const unsigned char*>(sqlite3_column_blob(statement_, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement_, column));
    return value == nullptr ? std::vector<unsigned char>()
                            : std::vector<unsigned char>(value, value + size);
}

long long SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

int SqliteStatement::number(int column) const {
    return sqlite3_column_int(statement_, column);
}

}  // namespace panelhost
