#include "DisplayLeadership.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace panelhost {
namespace {

using Clock = std::chrono::steady_clock;

// The host's side of a connection to a server elsewhere (a libpq setting a
// --store URL may override; PostgresConnection bounds the connect). A host
// cut off from the server notices when a round's command stays unanswered
// this long (milliseconds), and stops driving what another host could take
// over: at most kRoundPeriod + 2 s after the cut, before the server gives
// its locks away (kServerSide below).
constexpr const char* kUserTimeout = "2000";

// The server's side of the same connection, for this session only: a host
// that vanishes (power, cable) is dropped by the server, and its locks go
// to another host, once its connection has been silent for 4 s and three
// probes a second apart went unanswered, or a reply stayed unacknowledged
// for 7 s: at least 6 s after the cut, later than the host notices
// (kUserTimeout). A host that dies with its machine still up (kill -9) is
// dropped at once, its system closing the connection.
constexpr const char* kServerSide =
    "SET tcp_keepalives_idle = 4; SET tcp_keepalives_interval = 1; "
    "SET tcp_keepalives_count = 3; SET tcp_user_timeout = 7000";

// Session-level: held until the connection ends, taken again by the same
// session without harm (this host tries only the locks it lacks).
constexpr const char* kTryLock = "SELECT pg_try_advisory_lock(hashtextextended($1, 0))";
// Every host that names a receiver holds its shared lock of namedText(), so
// the driver knows whether any other host could take over.
constexpr const char* kTryShared = "SELECT pg_try_advisory_lock_shared(hashtextextended($1, 0))";
// Who holds a lock of kTryLock, and whether it is this session. A bigint
// key shows in pg_locks as its high half in classid and its low half in
// objid, with objsubid 1.
constexpr const char* kLockHolder =
    "SELECT l.pid = pg_backend_pid(), a.application_name FROM pg_locks l "
    "LEFT JOIN pg_stat_activity a ON a.pid = l.pid "
    "WHERE l.locktype = 'advisory' AND l.granted AND l.objsubid = 1 "
    "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database()) "
    "AND ((l.classid::bigint << 32) | l.objid::bigint) = hashtextextended($1, 0)";
// How many other sessions hold the shared lock of kTryShared.
constexpr const char* kOthersNaming =
    "SELECT count(*) FROM pg_locks l "
    "WHERE l.locktype = 'advisory' AND l.granted AND l.objsubid = 1 "
    "AND l.pid <> pg_backend_pid() "
    "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database()) "
    "AND ((l.classid::bigint << 32) | l.objid::bigint) = hashtextextended($1, 0)";

// Whether the server is a standby (in recovery), whose locks are nobody's.
constexpr const char* kInRecovery = "SELECT pg_is_in_recovery()";

std::string namedText(const std::string& lockText) {
    return lockText + " named";
}

}  // namespace

std::string DisplayLeadership::lockText(const std::string& receiver) {
    return "panelhost display receiver " + receiver;
}

DisplayLeadership::DisplayLeadership(std::string url, std::string hostName,
                                     const std::vector<tsl::TslTarget>& targets,
                                     DisplayOutput& output, EventLog& log)
    : url_(std::move(url)),
      hostName_(std::move(hostName)),
      targets_(targets),
      output_(output),
      log_(log) {
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        const std::string text = lockText(targets_[i].receiver());
        auto same = std::find_if(receivers_.begin(), receivers_.end(),
                                 [&](const Receiver& r) { return r.lockText == text; });
        if (same == receivers_.end()) {
            same = receivers_.insert(receivers_.end(), Receiver{});
            same->lockText = text;
        }
        same->targets.push_back(i);
    }
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "display leadership");
    }
    thread_ = std::thread([this] { run(); });
}

DisplayLeadership::~DisplayLeadership() {
    const char stop = 0;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    close(wake_[0]);
    close(wake_[1]);
}

void DisplayLeadership::run() {
    // Whether the outage going on was logged, so that it is logged once.
    bool reported = false;
    for (;;) {
        if (!connection_) {
            const std::string failure = connect();
            if (!failure.empty()) {
                if (!reported) {
                    log_.add(0, "warning",
                             "display leadership: " + failure +
                                 "; drives no display and tries again every " +
                                 std::to_string(kRetryPause.count()) + " ms");
                    reported = true;
                }
                if (!pause(kRetryPause)) {
                    break;
                }
                continue;
            }
            reported = false;
        }
        const auto next = Clock::now() + kRoundPeriod;
        try {
            round();
        } catch (const StoreError& error) {
            lose("lost the database", true);
            log_.add(0, "warning",
                     "display leadership: " + std::string(error.what()) +
                         "; drives no display until the database is back");
            reported = true;
            // A server that keeps failing the rounds is not asked in a loop.
            if (!pause(kRetryPause)) {
                break;
            }
            continue;
        }
        if (!pause(std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()))) {
            break;
        }
    }
    lose("the host is stopping", false);
}

std::string DisplayLeadership::connect() {
    try {
        connection_ = std::make_unique<PostgresConnection>(
            url_, PostgresConnection::Settings{{"tcp_user_timeout", kUserTimeout}},
            PostgresConnection::Settings{{"application_name", hostName_},
                                         {"target_session_attrs", "read-write"}});
        connection_->run("cannot set its keepalives", kServerSide);
    } catch (const StoreError& error) {
        connection_.reset();
        return error.what();
    }
    log_.add(0, "info",
             "display leadership: connected to " + connection_->location() + " as " + hostName_ +
                 "; drives the receivers whose locks it takes");
    return {};
}

void DisplayLeadership::round() {
    // A primary demoted while this connection stays open (or a URL's
    // server that is a standby) holds no lock another host respects.
    if (connection_->run("cannot read whether it is the primary", kInRecovery).text(0, 0) != "f") {
        throw StoreError(connection_->location() + ": is a standby, not the primary");
    }
    const auto now = Clock::now();
    for (Receiver& receiver : receivers_) {
        if (!receiver.named) {
            connection_->run("cannot name " + targetNames(receiver), kTryShared,
                             {namedText(receiver.lockText)});
            receiver.named = true;
        }
        if (!receiver.held) {
            connection_->run("cannot try the lock of " + targetNames(receiver), kTryLock,
                             {receiver.lockText});
        }
        const PostgresConnection::Result others =
            connection_->run("cannot read who names " + targetNames(receiver), kOthersNaming,
                             {namedText(receiver.lockText)});
        if (others.rows() > 0 && others.integer(0, 0) == 0) {
            receiver.aloneSince = receiver.aloneSince.value_or(now);
        } else {
            receiver.aloneSince.reset();
            receiver.aloneLogged = false;
        }
        const PostgresConnection::Result holder = connection_->run(
            "cannot read who drives " + targetNames(receiver), kLockHolder, {receiver.lockText});
        const bool mine = holder.rows() > 0 && holder.text(0, 0) == "t";
        std::optional<std::string> driver;
        if (holder.rows() > 0 && !holder.isNull(0, 1)) {
            driver = holder.text(0, 1);
        }
        update(receiver, mine, driver);
        if (receiver.driving && !receiver.aloneLogged && receiver.aloneSince &&
            now - *receiver.aloneSince >= kAloneProof) {
            log_.add(0, "info",
                     targetNames(receiver) +
                         " is named by no other host: this host keeps driving it if it loses "
                         "the database");
            receiver.aloneLogged = true;
        }
    }
}

void DisplayLeadership::update(Receiver& receiver, bool mine,
                               const std::optional<std::string>& driver) {
    const std::string names = targetNames(receiver);
    if (mine && !receiver.driving) {
        log_.add(0, "info", "now driving " + names);
    } else if (!mine && receiver.driving) {
        log_.add(0, "warning", "stopped driving " + names + " (its lock is no longer this host's)");
    }
    if (!mine && driver != receiver.driver) {
        if (driver && *driver == hostName_) {
            log_.add(0, "warning",
                     names + " is driven by a connection named " + hostName_ +
                         " like this host: one of this host's the server has not dropped yet, "
                         "or another host of the same name (give each its own --host-name)");
        } else {
            log_.add(0, "info",
                     driver ? names + " is driven by " + *driver : "nobody drives " + names);
        }
    }
    receiver.held = mine;
    receiver.driving = mine;
    receiver.driver = mine ? std::optional<std::string>(hostName_) : driver;
    for (const std::size_t target : receiver.targets) {
        output_.setDriver(target, mine, receiver.driver);
    }
}

void DisplayLeadership::lose(const std::string& why, bool outage) {
    connection_.reset();
    const auto now = Clock::now();
    for (Receiver& receiver : receivers_) {
        receiver.held = false;
        receiver.named = false;
        const bool provenAlone = receiver.aloneSince && now - *receiver.aloneSince >= kAloneProof;
        receiver.aloneSince.reset();
        if (outage && receiver.driving && provenAlone) {
            // Nobody else could take it over, and its displays may want
            // their refreshes.
            log_.add(0, "warning",
                     "still driving " + targetNames(receiver) + " (" + why +
                         "; no other host names it)");
            continue;
        }
        if (receiver.driving) {
            log_.add(0, outage ? "warning" : "info",
                     "stopped driving " + targetNames(receiver) + " (" + why + ")");
        }
        receiver.driving = false;
        receiver.driver.reset();
        for (const std::size_t target : receiver.targets) {
            output_.setDriver(target, false, std::nullopt);
        }
    }
}

bool DisplayLeadership::pause(std::chrono::milliseconds period) {
    const auto end = Clock::now() + period;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        const int socket = connection_ ? PQsocket(connection_->native()) : -1;
        pollfd watched[2] = {{wake_[0], POLLIN, 0}, {socket, POLLIN, 0}};
        const int ready =
            poll(watched, socket < 0 ? 1 : 2, static_cast<int>(std::max<long long>(left, 0)));
        if (watched[0].revents != 0) {
            return false;
        }
        if (ready > 0 && watched[1].revents != 0) {
            // The server says something unasked only when it ends the
            // session: a round finds out at once.
            if (PQconsumeInput(connection_->native()) == 0 || !connection_->connected()) {
                return true;
            }
        }
        if (ready == 0 || left <= 0) {
            return true;
        }
    }
}

std::string DisplayLeadership::targetNames(const Receiver& receiver) const {
    std::string names;
    for (const std::size_t target : receiver.targets) {
        names += (names.empty() ? "" : ", ") + targets_[target].toString();
    }
    return names;
}

}  // namespace panelhost
