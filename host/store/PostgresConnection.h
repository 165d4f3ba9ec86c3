#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "StoreError.h"

struct pg_conn;
struct pg_result;

namespace panelhost {

// One connection to a PostgreSQL server, and the commands run on it. Every
// failure throws StoreError naming the server (never a password) and what
// could not be done, with the server's reason on one line; StoreUnavailable
// when the server is away (the connection lost, the server shutting down or
// starting). A COMMIT the server does not confirm (its wait for a
// synchronous standby cut short by limitEachCommand(), or the connection
// lost on the way) throws StoreUnavailable saying that its outcome is
// unknown, and counts in unconfirmedCommits(). The connection is closed with
// the object. Not thread-safe: one thread at a time uses it.
class PostgresConnection {
  public:
    // One command's result, cleared when it goes out of scope.
    class Result {
      public:
        explicit Result(pg_result* result) : result_(result) {}
        ~Result();
        Result(Result&& other) noexcept;
        Result(const Result&) = delete;
        Result& operator=(const Result&) = delete;
        Result& operator=(Result&&) = delete;

        int rows() const;
        std::string text(int row, int column) const;
        bool isNull(int row, int column) const;
        // NULL reads as 0, as an absent batch or restore is 0 to the callers.
        long long integer(int row, int column) const;
        int number(int row, int column) const { return static_cast<int>(integer(row, column)); }
        // Whether the command succeeded (with or without rows).
        bool succeeded() const;

      private:
        pg_result* result_;
    };

    // Parameters $1, $2…; nothing is SQL NULL.
    using Parameters = std::vector<std::optional<std::string>>;
    // libpq connection settings, keyword and value (e.g. application_name).
    using Settings = std::vector<std::pair<std::string, std::string>>;

    // Seconds a connection attempt may take when the URL does not say
    // (connect_timeout): connecting again happens on threads that others
    // wait for, and an unreachable server would otherwise hold them for as
    // long as the system's TCP connect takes.
    static constexpr int kConnectTimeoutSeconds = 5;
    // Milliseconds data sent to the server may stay unacknowledged before
    // the connection counts as lost, when the URL does not say
    // (tcp_user_timeout): a server that vanishes from the network without
    // closing the connection would otherwise hold a waiting command, and
    // the thread behind it, for the system's TCP retransmission time
    // (about a quarter of an hour). A slow answer is not cut short by it.
    static constexpr int kUserTimeoutMs = 5000;
    // Which server of a URL listing several a connection takes, when the
    // URL does not say (target_session_attrs): the first that accepts
    // writes, which is the primary of a replicated pair, so that after a
    // failover every connection made again finds the new primary.
    static constexpr const char* kSessionAttributes = "read-write";

    // Connects with `url` (postgresql://… or any libpq connection string),
    // with kConnectTimeoutSeconds and kUserTimeoutMs unless it gives its own.
    // Throws StoreError when the server cannot be reached or refuses.
    explicit PostgresConnection(const std::string& url);
    // The same with settings of the caller's: `defaults` apply where `url`
    // names no value of its own, `fixed` apply whatever `url` says.
    PostgresConnection(const std::string& url, const Settings& defaults, const Settings& fixed);
    ~PostgresConnection();

    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    // Runs `sql`; throws StoreError naming `what` unless it succeeded. Only
    // a command without parameters may hold several statements.
    Result run(const std::string& what, const char* sql, const Parameters& parameters = {}) const;
    // Bounds every command to `milliseconds`, now and on every connection
    // made again: the server cancels a statement that takes longer (its
    // statement_timeout), and a COMMIT that waits longer (the server's
    // statement timeout does not cover the commit itself, nor its wait for
    // a synchronous standby) is cancelled from here, which leaves its
    // outcome unknown. Throws StoreError as run().
    void limitEachCommand(int milliseconds);
    // Runs `body` between BEGIN and COMMIT, connecting again first when the
    // connection was lost (also when only BEGIN finds that out: a server
    // that restarted since the last command); rolls back and rethrows when
    // anything fails.
    template <typename Body>
    void transaction(const std::string& what, Body&& body);
    // Connects again when the connection was lost or went to a server that
    // turned out to be a standby; throws StoreUnavailable when that fails.
    void reconnectIfLost();
    bool connected() const;
    // How many times a connection was made, counting the first: a change
    // tells a caller that notices or commit answers may have been missed.
    int connections() const { return connections_; }
    // How many COMMITs the server did not confirm: a change tells a caller
    // that the database may hold writes it answered as failed.
    int unconfirmedCommits() const { return unconfirmed_; }

    // The server and database of the connection made last, for the log and
    // every error: postgresql://user@host:port/db.
    const std::string& location() const { return location_; }
    // The server (host:port) of the connection made last.
    const std::string& server() const { return server_; }
    // The connection's last error on one line.
    std::string reason() const;
    // The libpq connection, for what this class does not wrap (LISTEN and
    // its socket). Stays owned here.
    pg_conn* native() const { return db_; }

    static std::optional<std::string> number(long long value) { return std::to_string(value); }

  private:
    void rollback();
    // Runs COMMIT, cancelled after commandLimitMs_; throws StoreUnavailable
    // when its outcome is unknown.
    void commit(const std::string& what);
    // Waits for the answer to the command sent last, cancelling it once
    // commandLimitMs_ have passed; the last result (null: none).
    pg_result* awaitAnswer();
    // Records where the connection made last goes and prepares it.
    void prepare();

    pg_conn* db_ = nullptr;
    std::string location_;
    std::string server_;
    // limitEachCommand()'s bound; 0: none.
    int commandLimitMs_ = 0;
    int connections_ = 0;
    int unconfirmed_ = 0;
    // Set when the server turned out to be a standby: made again before the
    // next transaction although it still answers.
    mutable bool stale_ = false;
    // The server's warnings since the last command began, on one line.
    mutable std::string warnings_;
};

template <typename Body>
void PostgresConnection::transaction(const std::string& what, Body&& body) {
    reconnectIfLost();
    try {
        run(what, "BEGIN");
    } catch (const StoreUnavailable&) {
        reconnectIfLost();
        run(what, "BEGIN");
    }
    try {
        body();
        commit(what);
    } catch (...) {
        rollback();
        throw;
    }
}

}  // namespace panelhost
