#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cctype>
#include <cstdlib>
#include <string>

// A database of its own for one test on the throwaway PostgreSQL server that
// PANELHOST_TEST_POSTGRES names (tests/store/run-postgres-test.sh starts
// one): made empty by open() and dropped when the object goes. Tests may run
// in parallel, so the database is named after the test, behind a prefix of
// the suite's own.
class PostgresTestDatabase {
  public:
    static constexpr const char* kVariable = "PANELHOST_TEST_POSTGRES";

    PostgresTestDatabase() = default;
    ~PostgresTestDatabase() {
        if (!database_.empty()) {
            EXPECT_EQ(run(server_, "DROP DATABASE IF EXISTS " + database_), "");
        }
    }
    PostgresTestDatabase(const PostgresTestDatabase&) = delete;
    PostgresTestDatabase& operator=(const PostgresTestDatabase&) = delete;

    // The server's URL; empty when none is given (the test skips then).
    static std::string server() {
        const char* url = std::getenv(kVariable);
        return url == nullptr ? std::string() : std::string(url);
    }

    // Makes the test's database anew; a fatal failure when it cannot.
    void open(const std::string& prefix) {
        server_ = server();
        std::string name = prefix;
        for (const char c :
             std::string(testing::UnitTest::GetInstance()->current_test_info()->name())) {
            name += std::isalnum(static_cast<unsigned char>(c)) != 0
                        ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                        : '_';
        }
        name = name.substr(0, kLongestDatabaseName);
        ASSERT_EQ(run(server_, "DROP DATABASE IF EXISTS " + name), "");
        ASSERT_EQ(run(server_, "CREATE DATABASE " + name), "");
        database_ = name;
        conninfo_ = withDatabase(server_, database_);
    }

    // The connection settings of the test's database, and its name.
    const std::string& conninfo() const { return conninfo_; }
    const std::string& name() const { return database_; }

    // Runs `sql` on the database of `conninfo` (a URL or key=value pairs);
    // returns the error, or "" when it succeeded.
    static std::string run(const std::string& conninfo, const std::string& sql) {
        PGconn* db = PQconnectdb(conninfo.c_str());
        std::string error;
        if (PQstatus(db) != CONNECTION_OK) {
            error = PQerrorMessage(db);
        } else {
            PGresult* result = PQexec(db, sql.c_str());
            if (PQresultStatus(result) != PGRES_COMMAND_OK) {
                error = PQerrorMessage(db);
            }
            PQclear(result);
        }
        PQfinish(db);
        return error;
    }

  private:
    // PostgreSQL's longest identifier.
    static constexpr std::size_t kLongestDatabaseName = 63;

    // The connection settings of `url` with its database replaced by
    // `database`.
    static std::string withDatabase(const std::string& url, const std::string& database) {
        PQconninfoOption* options = PQconninfoParse(url.c_str(), nullptr);
        std::string conninfo = "dbname='" + database + "'";
        for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr;
             ++option) {
            if (option->val == nullptr || std::string(option->keyword) == "dbname") {
                continue;
            }
            std::string value;
            for (const char c : std::string(option->val)) {
                if (c == '\\' || c == '\'') {
                    value += '\\';
                }
                value += c;
            }
            conninfo += std::string(" ") + option->keyword + "='" + value + "'";
        }
        PQconninfoFree(options);
        return conninfo;
    }

    std::string server_;
    std::string database_;
    std::string conninfo_;
};
