#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "AccountApi.h"
#include "AccountStore.h"
#include "EventLog.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "IdentityTable.h"
#include "LoginLimiter.h"
#include "RequestGuard.h"
#include "RouteTable.h"

namespace panelhost {

// Who may make which HTTP request, checked before any route runs, and the
// routes of logging in and out and of managing accounts and tokens:
// - the RequestGuard refuses requests addressed to a foreign name (421) and
//   changes from other sites' pages (403), with a warning in the log;
// - a client is known by its session cookie or its `Authorization: Bearer`
//   token, checked in memory (IdentityTable), and the least role its route
//   declares decides whether it may
//   make the request (401 when it is not logged in, 403 when its role is
//   too low);
//   a token or session that cannot be checked is refused with 503, unless
//   the store remembers it (AccountStore::kIdentityGrace), which is logged
//   once when the store stops answering and once when it answers again;
// - logins are slowed per address and per account by a LoginLimiter (429
//   and Retry-After).
// No secret (password, token, session id, one-time secret) is logged. The
// account store and the log must outlive it. Every member but serveOn()
// may be called from any thread at once; serveOn() once, when the port is
// known.
class HttpAccess {
  public:
    // The cookie that carries a session's id.
    static constexpr const char* kSessionCookie = "panelhost_session";

    // `bind`, `allowHosts` and `tls` as the host serves (see RequestGuard);
    // throws std::invalid_argument for an allowed host that is no host name.
    HttpAccess(AccountStore& accounts, EventLog& log, std::string bind,
               std::vector<std::string> allowHosts, bool tls);

    // Starts checking requests against the port actually served; until
    // then every request is refused with 503. `endStreams` ends the event
    // streams of an account or token whose rights changed (may be empty:
    // there are none); it is called on the HTTP workers.
    void serveOn(int port, AccountApi::StreamEnder endStreams = {});

    // Checks `request`, which needs `least` (see RouteTable); true when it
    // may go on to its route, with its user and role filled in. Otherwise
    // `response` holds the refusal.
    bool admit(HttpRequest& request, RouteAccess least, HttpResponse& response);
    // The same without waiting on anything, for the server's I/O thread:
    // nothing (and `response` untouched) when the client's identity cannot
    // be decided from memory alone; admit() must decide then.
    std::optional<bool> admitFromMemory(HttpRequest& request, RouteAccess least,
                                        HttpResponse& response);

    // The routes of logging in and out (/login, /api/login, /api/logout,
    // /api/logout/everywhere), of the own session and password
    // (/api/session, /api/session/password) and of managing accounts and
    // tokens (AccountApi), bound to this object, which must outlive them.
    // `loginPage` answers GET /login without a one-time secret (the page
    // itself).
    std::vector<HttpRoute> routes(HttpRoute::Handler loginPage);

    // The tokens and sessions held in memory, for what tells of account
    // changes made elsewhere (an AccountWatch).
    IdentityTable& identities() { return identities_; }

    // Who an admitted `request` comes from, as GET /api/session answers:
    // {user, role, token} and, for an account, whether it and any account
    // have a password. Reads the account store's memory; any thread.
    nlohmann::json whoIs(const HttpRequest& request);

  private:
    // admit(), deciding identities from memory alone when `memoryOnly`.
    std::optional<bool> check(HttpRequest& request, RouteAccess least, HttpResponse& response,
                              bool memoryOnly);
    std::shared_ptr<const RequestGuard> guard() const;
    // The Set-Cookie value that gives the client session `id`, or (empty
    // `id`) that takes it back.
    std::string sessionCookie(const std::string& id) const;
    static std::string sessionId(const HttpRequest& request);
    // Logs when the identities of requests start or stop being answered
    // from the account store's memory.
    void noteChecked(const Identity& identity);

    using Handler = void (HttpAccess::*)(const HttpRequest&, HttpResponse&);
    // `work`, with a bad account request answered 400 and a store that
    // fails answered 503 (nothing done either way).
    HttpRoute::Handler guarded(AccountApi::Work work);
    HttpRoute::Handler guarded(Handler handler);
    // Ends the event streams of the account or token, when the server
    // said how.
    void endStreamsOf(const std::string& name, bool token) const;

    void onceLogin(const HttpRequest& request, HttpResponse& response);
    void login(const HttpRequest& request, HttpResponse& response);
    void logout(const HttpRequest& request, HttpResponse& response);
    void logoutEverywhere(const HttpRequest& request, HttpResponse& response);
    void session(const HttpRequest& request, HttpResponse& response);
    void changeOwnPassword(const HttpRequest& request, HttpResponse& response);

    AccountStore& accounts_;
    // Read again after every change this object makes to the accounts.
    IdentityTable identities_;
    EventLog& log_;
    const std::string bind_;
    const std::vector<std::string> allowHosts_;
    const bool tls_;
    LoginLimiter limiter_;
    AccountApi accountApi_;
    mutable std::mutex guardMutex_;
    std::shared_ptr<const RequestGuard> guard_;
    // Set with the guard, under guardMutex_.
    AccountApi::StreamEnder endStreams_;
    // Whether the last identity checked was answered from memory.
    std::atomic<bool> fromMemory_{false};
};

}  // namespace panelhost
