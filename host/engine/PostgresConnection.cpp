#include "PostgresConnection.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <utility>

namespace panelhost {

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

PostgresConnection::PostgresConnection(const std::string& url) : db_(PQconnectdb(url.c_str())) {
    if (db_ == nullptr) {
        throw StoreError("postgresql: cannot connect: out of memory");
    }
    location_ = std::string("postgresql://") + PQuser(db_) + "@" + PQhost(db_) + ":" + PQport(db_) +
                "/" + PQdb(db_);
    try {
        if (PQstatus(db_) != CONNECTION_OK) {
            throw StoreError(location_ + ": cannot connect: " + reason());
        }
        run("cannot be prepared", "SET client_min_messages = warning");
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
    Result result(values.empty() ? PQexec(db_, sql)
                                 : PQexecParams(db_, sql, static_cast<int>(values.size()), nullptr,
                                                values.data(), nullptr, nullptr, 0));
    if (!result.succeeded()) {
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
        throw StoreError(location_ +
                         ": the connection is lost and cannot be made again: " + reason());
    }
}

void PostgresConnection::rollback() {
    PQclear(PQexec(db_, "ROLLBACK"));
}

}  // namespace panelhost
