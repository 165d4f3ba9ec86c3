#include "PostgresConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace panelhost {
namespace {

// A command the server ran on a standby, which refuses writes: the server
// this connection went to is no longer the primary (a failover).
constexpr const char* kReadOnlyServer = "25006";
// A command the server cancelled after the statement timeout: it did not
// answer in time, and may once the cause (a lost standby, a lock) is gone.
constexpr const char* kTimedOut = "57014";

// Whether a failed command failed because the server is away rather than
// because it refused the command: the connection is gone, the server says
// it is shutting down or starting (SQLSTATE classes 08 and 57P), it timed
// out, or it is a standby now.
bool serverAway(pg_conn* db, const pg_result* result) {
    if (PQstatus(db) != CONNECTION_OK) {
        return true;
    }
    const char* state = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (state == nullptr) {
        return result == nullptr;
    }
    const std::string code(state);
    return code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0 || code == kTimedOut ||
           code == kReadOnlyServer;
}

bool onStandby(const pg_result* result) {
    const char* state = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return state != nullptr && std::string(state) == kReadOnlyServer;
}

// Collects the server's warnings (the only notices client_min_messages
// lets through) on one line for the connection they came on.
void collectWarning(void* warnings, const pg_result* notice) {
    const char* message = PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY);
    if (message == nullptr) {
        return;
    }
    auto& collected = *static_cast<std::string*>(warnings);
    collected += (collected.empty() ? "" : "; ") + std::string(message);
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
    std::vector<const char*> keywords{"connect_timeout", "tcp_user_timeout",
                                      "target_session_attrs"};
    std::vector<const char*> values{timeout.c_str(), unacknowledged.c_str(),
                                    PostgresConnection::kSessionAttributes};
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
    // The server's warnings would go to standard error, past the log: they
    // are collected instead. That it ends the connection as it shuts down
    // reaches the log as the failure of the command that follows; that it
    // did not confirm a commit makes the commit's outcome unknown.
    PQsetNoticeReceiver(db_, collectWarning, &warnings_);
    try {
        if (PQstatus(db_) != CONNECTION_OK) {
            // Names the URL's servers as libpq tried them, in its reason.
            throw StoreError(std::string("postgresql://") + PQuser(db_) + "@" + PQhost(db_) + ":" +
                             PQport(db_) + "/" + PQdb(db_) + ": cannot connect: " + reason());
        }
        prepare();
    } catch (...) {
        PQfinish(db_);
        throw;
    }
}

void PostgresConnection::prepare() {
    // Of a URL listing several servers, the one this connection went to.
    server_ = std::string(PQhost(db_)) + ":" + PQport(db_);
    location_ = std::string("postgresql://") + PQuser(db_) + "@" + server_ + "/" + PQdb(db_);
    stale_ = false;
    run("cannot be prepared", "SET client_min_messages = warning");
    if (commandLimitMs_ > 0) {
        const std::string limit = "SET statement_timeout = " + std::to_string(commandLimitMs_);
        run("cannot be prepared", limit.c_str());
    }
    ++connections_;
}

void PostgresConnection::limitEachCommand(int milliseconds) {
    commandLimitMs_ = milliseconds;
    const std::string limit = "SET statement_timeout = " + std::to_string(milliseconds);
    run("cannot be prepared", limit.c_str());
}

pg_result* PostgresConnection::awaitAnswer() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(commandLimitMs_);
    bool cancelled = commandLimitMs_ == 0;
    while (PQconsumeInput(db_) != 0 && PQisBusy(db_) != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd socket{PQsocket(db_), POLLIN, 0};
        const int ready =
            poll(&socket, 1, cancelled ? -1 : static_cast<int>(std::max<long long>(left, 0)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready == 0 && !cancelled) {
            // The server's own cancel request: the command ends with the
            // server's answer to it (for a commit, committed here but not
            // confirmed), or with the connection lost (tcp_user_timeout).
            if (PGcancel* cancel = PQgetCancel(db_)) {
                char error[256];
                PQcancel(cancel, error, sizeof error);
                PQfreeCancel(cancel);
            }
            cancelled = true;
        }
    }
    pg_result* last = nullptr;
    while (pg_result* next = PQgetResult(db_)) {
        PQclear(last);
        last = next;
    }
    return last;
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
    warnings_.clear();
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
        if (onStandby(raw)) {
            // Made again by the next transaction, on the primary.
            stale_ = true;
        }
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
    if (connected() && !stale_) {
        return;
    }
    // The server lost, named in the error until another answers.
    PQreset(db_);
    if (!connected()) {
        throw StoreUnavailable(location_ +
                               ": the connection is lost and cannot be made again: " + reason());
    }
    try {
        prepare();
    } catch (const StoreUnavailable&) {
        throw;
    } catch (const StoreError& error) {
        throw StoreUnavailable(error.what());
    }
}

void PostgresConnection::commit(const std::string& what) {
    warnings_.clear();
    pg_result* raw = PQsendQuery(db_, "COMMIT") != 0 ? awaitAnswer() : nullptr;
    const Result result(raw);
    if (!result.succeeded()) {
        if (raw != nullptr && !serverAway(db_, raw)) {
            // Refused: rolled back, nothing committed.
            throw StoreError(location_ + ": " + what + ": " + reason());
        }
        ++unconfirmed_;
        const std::string reason = this->reason();
        throw StoreUnavailable(location_ + ": " + what +
                               ": outcome unknown: the commit was not answered (" +
                               (reason.empty() ? std::string("no answer") : reason) + ")");
    }
    if (!warnings_.empty()) {
        // A wait for the synchronous standby cut short: committed here, not
        // confirmed as kept anywhere else.
        ++unconfirmed_;
        throw StoreUnavailable(location_ + ": " + what +
                               ": outcome unknown: the server did not confirm the commit in "
                               "time (" +
                               warnings_ + ")");
    }
}

void PostgresConnection::rollback() {
    PQclear(PQexec(db_, "ROLLBACK"));
}

}  // namespace panelhost
