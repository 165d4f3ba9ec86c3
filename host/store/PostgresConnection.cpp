#include "PostgresConnection.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <utility>

namespace panelhost {
namespace {

// Whether a failed command failed because the server is away rather than
// because it refused the command: the connection is gone, or the server
// says it is shutting down or starting (SQLSTATE classes 08 and 57P).
bool serverAway(pg_conn* db, const pg_result* result) {
    if (PQstatus(db) != CONNECTION_OK) {
        return true;
    }
    const char* state = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (state == nullptr) {
        return result == nullptr;
    }
    const std::string code(state);
    return code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0;
}

}  // namespace

PostgresConnection::Result::~Result() {
    PQclear(result_);
}

PostgresConnection::Result::Result(Result&& other) noexcept
    : result_(std::exchange(other.result_, nullptr)) {}

int PostgresConnection::Result::rows() const {
    return PQntuples(result_);
}

std::string PostgresConnection::Result::text(int row, int column) const {
    return PQgetvalue(result_, row, column);
}

bool PostgresConnection::Result::isNull(int row, int column) const {
    return PQgetisnull(result_, row, column) != 0;
}

bool PostgresConnection::Result::succeeded() const {
    const ExecStatusType status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

long long PostgresConnection::Result::integer(int row, int column) const {
    return isNull(row, column) ? 0 : std::strtoll(PQgetvalue(result_, row, column), nullptr, 10);
}

namespace {

// Connects with `url` between the settings: libpq takes the last value of
// a keyword, and expands the URL (dbname) where it stands in the list.
pg_conn* connect(const std::string& url, const PostgresConnection::Settings& defaults,
                 const PostgresConnection::Settings& fixed) {
    const std::string timeout = std::to_string(PostgresConnection::kConnectTimeoutSeconds);
    const std::string unacknowledged = std::to_string(PostgresConnection::kUserTimeoutMs);
    std::vector<const char*> keywords{"connect_timeout", "tcp_user_timeout"};
    std::vector<const char*> values{timeout.c_str(), unacknowledged.c_str()};
    for (const auto& [keyword, value] : defaults) {
        keywords.push_back(keyword.c_str());
        values.push_back(value.c_str());
    }
    keywords.push_back("dbname");
    values.push_back(url.c_str());
    for (const auto& [keyword, value] : fixed) {
        keywords.push_back(keyword.c_str());
        values.push_back(value.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    return PQconnectdbParams(keywords.data(), values.data(), 1);
}

}  // namespace

PostgresConnection::PostgresConnection(const std::string& url) : PostgresConnection(url, {}, {}) {}

PostgresConnection::PostgresConnection(const std::string& url, const Settings& defaults,
                                       const Settings& fixed)
    : db_(connect(url, defaults, fixed)) {
    if (db_ == nullptr) {
        throw StoreError("postgresql: cannot connect: out of memory");
    }
    location_ = std::string("postgresql://") + PQuser(db_) + "@" + PQhost(db_) + ":" + PQport(db_) +
                "/" + PQdb(db_);
    // The server's warnings (that it ends the connection as it shuts down)
    // would go to standard error, past the log; what they announce reaches
    // the log as the failure of the command that follows.
    PQsetNoticeProcessor(
        db_, [](void*, const char*) {}, nullptr);
    try {
        if (PQstatus(db_) != CONNECTION_OK) {
            throw StoreError(location_ + ": cannot connect: " + reason());
        }
        run("cannot be prepared", "SET client_min_messages = warning");
        ++connections_;
    } catch (...) {
        PQfinish(db_);
        throw;
    }
}

PostgresConnection::~PostgresConnection() {
    PQfinish(db_);
}

std::string PostgresConnection::reason() const {
    std::string reason;
    for (const char c : std::string(PQerrorMessage(db_))) {
        if (c == '\n' || c == '\t') {
            if (!reason.empty() && reason.back() != ' ') {
                reason += ' ';
            }
        } else {
            reason += c;
        }
    }
    while (!reason.empty() && reason.back() == ' ') {
        reason.pop_back();
    }
    return reason;
}

PostgresConnection::Result PostgresConnection::run(const std::string& what, const char* sql,
                                                   const Parameters& parameters) const {
    std::vector<const char*> values;
    values.reserve(parameters.size());
    for (const std::optional<std::string>& parameter : parameters) {
        values.push_back(parameter ? parameter->c_str() : nullptr);
    }
    pg_result* raw = values.empty() ? PQexec(db_, sql)
                                    : PQexecParams(db_, sql, static_cast<int>(values.size()),
                                                   nullptr, values.data(), nullptr, nullptr, 0);
    Result result(raw);
    if (!result.succeeded()) {
        if (serverAway(db_, raw)) {
            throw StoreUnavailable(location_ + ": " + what +
                                   ": the server is unavailable: " + reason());
        }
        throw StoreError(location_ + ": " + what + ": " + reason());
    }
    return result;
}

bool PostgresConnection::connected() const {
    return PQstatus(db_) == CONNECTION_OK;
}

void PostgresConnection::reconnectIfLost() {
    if (connected()) {
        return;
    }
    PQreset(db_);
    if (!connected()) {
        throw StoreUnavailable(location_ +
                               ": the connection is lost and cannot be made again: " + reason());
    }
    PQclear(PQexec(db_, "SET client_min_messages = warning"));
    ++connections_;
}

void PostgresConnection::rollback() {
    PQclear(PQexec(db_, "ROLLBACK"));
}

}  // namespace panelhost
