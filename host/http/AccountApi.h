#pragma once

#include <functional>
#include <string>
#include <vector>

#include "AccountStore.h"
#include "EventLog.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "RouteTable.h"

namespace panelhost {

// The routes by which an admin manages the accounts, their roles and
// sessions, the API tokens, and reads the history of those changes
// (docs/http-api.md). Every change is recorded by the store with who made
// it and from which address, and logged without any secret. A change that
// takes rights away (a role, a password set, a removal, sessions or a
// token ended) also ends the event streams of that account or token, so
// that its pages reload with what it may do now. The store and the log
// must outlive the object; any thread may call its routes.
class AccountApi {
  public:
    // Ends the open event streams of the account (`token` false) or API
    // token named.
    using StreamEnder = std::function<void(const std::string& name, bool token)>;

    // Most account changes one request returns.
    static constexpr int kChangesPage = 500;

    AccountApi(AccountStore& accounts, EventLog& log, StreamEnder endStreams);

    // A route's work, and what answers its refusals and failures alike
    // on every account route (HttpAccess: a bad request 400, a failing
    // store 503).
    using Work = std::function<void(const HttpRequest&, HttpResponse&)>;
    using Guard = std::function<HttpRoute::Handler(Work)>;

    // The routes, each with its least role (admin), bound to this object,
    // which must outlive them.
    std::vector<HttpRoute> routes(const Guard& guard);

    // Who made a request, as the history records it.
    static Actor actorOf(const HttpRequest& request);

    // Logs that `name` has the first password of the host, when no
    // account had one before (`hadPassword` false) and one has now.
    void noteFirstPassword(bool hadPassword, const std::string& name);

  private:
    void listAccounts(const HttpRequest& request, HttpResponse& response);
    void addAccount(const HttpRequest& request, HttpResponse& response);
    void changeAccount(const HttpRequest& request, HttpResponse& response);
    void removeAccount(const HttpRequest& request, HttpResponse& response);
    void listSessions(const HttpRequest& request, HttpResponse& response);
    void endSessions(const HttpRequest& request, HttpResponse& response);
    void endSession(const HttpRequest& request, HttpResponse& response);
    void listTokens(const HttpRequest& request, HttpResponse& response);
    void createToken(const HttpRequest& request, HttpResponse& response);
    void revokeToken(const HttpRequest& request, HttpResponse& response);
    void changes(const HttpRequest& request, HttpResponse& response);

    AccountStore& accounts_;
    EventLog& log_;
    const StreamEnder endStreams_;
};

}  // namespace panelhost
