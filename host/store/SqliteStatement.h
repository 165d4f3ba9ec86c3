#pragma once

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace panelhost {

// One prepared SQLite statement, finalized when it goes out of scope. A
// statement that failed to prepare reports the connection's error from
// step(), and its binds do nothing. A value that cannot be bound (too big,
// a position the statement does not have) throws StoreError naming the
// file, the call and the position, so a statement never runs with a NULL
// where a value was meant. The connection must outlive it; used by one
// thread at a time.
class SqliteStatement {
  public:
    SqliteStatement(sqlite3* db, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    SqliteStatement& bind(int position, const std::string& text);
    SqliteStatement& bind(int position, long long value);
    SqliteStatement& bindBlob(int position, const std::vector<unsigned char>& bytes);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Makes the statement ready to run again with new values.
    void reset();

    std::string text(int column) const;
    std::vector<unsigned char> blob(int column) const;
    long long integer(int column) const;
    int number(int column) const;

  private:
    // Throws StoreError naming `call` and `position` unless `result` is
    // SQLITE_OK.
    void check(int result, const char* call, int position) const;

    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

}  // namespace panelhost
