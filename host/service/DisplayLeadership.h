#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DisplayOutput.h"
#include "EventLog.h"
#include "PostgresConnection.h"
#include "TslTarget.h"

namespace panelhost {

// Decides, with the other hosts on the same PostgreSQL database, which one
// drives each display receiver, so that two hosts never fight over a
// display: a host drives a receiver while its own connection holds the
// session-level advisory lock of the receiver's text (TslTarget::receiver();
// several targets of one receiver share it). On a thread of its own with a
// connection of its own (application_name: the host's name, which is how
// the others see who drives), it tries every kRoundPeriod to take the locks
// it does not hold and reads who holds each; it tells the display output
// whom each target is driven by, so a target whose lock it takes gets the
// whole wall at once. It trusts only a server that accepts writes
// (target_session_attrs=read-write, and pg_is_in_recovery() false at every
// round): a standby's locks are nobody's. When the connection is lost it
// stops driving at once every receiver, since the server then gives the
// locks to others; only a receiver that no other host has named for
// kAloneProof on this connection it keeps driving (nobody could take it
// over). It connects again after kRetryPause. Never
// calls the engine; calls the output and the log without any lock held. The
// output and the log must outlive it.
class DisplayLeadership {
  public:
    // How often a host tries to take the locks it lacks, which bounds how
    // long a receiver goes undriven after its host died: a backup is to
    // take over within 5 s, and a try costs the server next to nothing.
    static constexpr std::chrono::seconds kRoundPeriod{1};
    // The pause before connecting again after a failure: the displays this
    // host drove wait for its next try once the database is back (after a
    // failover, on the new primary), and a try costs a server that is away
    // one refused connection.
    static constexpr std::chrono::milliseconds kRetryPause{500};
    // How long this connection must have found no other host naming a
    // receiver before the host trusts that nobody else could drive it once
    // the database is lost: longer than another host naming it takes to
    // connect and name it (a pause, a connect of at most
    // PostgresConnection::kConnectTimeoutSeconds, a round). A server that
    // accepts writes only for a moment (an old primary restarted before it
    // learns of the failover, whom the other hosts never reach) proves
    // nothing.
    static constexpr std::chrono::seconds kAloneProof{10};

    // Starts the thread, which connects with `url` (a --store URL) at once.
    // `targets` are the output's, in its order.
    DisplayLeadership(std::string url, std::string hostName,
                      const std::vector<tsl::TslTarget>& targets, DisplayOutput& output,
                      EventLog& log);
    // Stops driving every target, closes the connection (so another host may
    // take over at once) and joins the thread, which may first finish a
    // command the server has not answered yet.
    ~DisplayLeadership();

    DisplayLeadership(const DisplayLeadership&) = delete;
    DisplayLeadership& operator=(const DisplayLeadership&) = delete;

    // The text whose advisory lock stands for `receiver` (a
    // TslTarget::receiver()), the same on every host.
    static std::string lockText(const std::string& receiver);

  private:
    // One receiver and the targets of the output that reach it.
    struct Receiver {
        std::string lockText;
        std::vector<std::size_t> targets;
        // Whether this connection holds its lock, and its shared lock of
        // the hosts that name it.
        bool held = false;
        bool named = false;
        // Whether this host drives it (held, or kept through an outage).
        bool driving = false;
        // Since when no other host named it at the rounds on this
        // connection; nothing: another did at the last round.
        std::optional<std::chrono::steady_clock::time_point> aloneSince;
        // Whether the log said it is named by no other host, since another
        // last did.
        bool aloneLogged = false;
        // The host that drives it, as last read; nothing: none or unknown.
        std::optional<std::string> driver;
    };

    void run();
    // Connects; the reason it could not, or "".
    std::string connect();
    // Takes the free locks and reads who drives each receiver; throws
    // StoreError when the connection fails.
    void round();
    void update(Receiver& receiver, bool mine, const std::optional<std::string>& driver);
    // Closes the connection and stops driving every target, except, in an
    // `outage` of the database, those no other host named for kAloneProof.
    void lose(const std::string& why, bool outage);
    // Waits up to `period`, less when the connection's socket reports news
    // (the server closing it) or the host stops; false when it stops.
    bool pause(std::chrono::milliseconds period);
    std::string targetNames(const Receiver& receiver) const;

    const std::string url_;
    const std::string hostName_;
    const std::vector<tsl::TslTarget> targets_;
    DisplayOutput& output_;
    EventLog& log_;
    // Everything below belongs to the thread after the start.
    std::vector<Receiver> receivers_;
    std::unique_ptr<PostgresConnection> connection_;
    // Written to end the thread's pause at once: [read end, write end].
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace panelhost
