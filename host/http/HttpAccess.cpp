#include "HttpAccess.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>
#include <variant>

#include "HttpStatus.h"
#include "JsonReply.h"
#include "JsonText.h"

namespace panelhost {
namespace {

using nlohmann::json;

constexpr const char* kBearer = "Bearer ";

using namespace reply;

// `text` from a client as the log may show it: control characters (a line
// break that would forge a log line) become '?'.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7f') {
            c = '?';
        }
    }
    return text;
}

}  // namespace

HttpAccess::HttpAccess(AccountStore& accounts, EventLog& log, std::string bind,
                       std::vector<std::string> allowHosts, bool tls)
    : accounts_(accounts),
      identities_(accounts),
      log_(log),
      bind_(std::move(bind)),
      allowHosts_(std::move(allowHosts)),
      tls_(tls),
      accountApi_(accounts, log,
                  [this](const std::string& name, bool token) { endStreamsOf(name, token); }) {
    // Refuses a mistyped --allow-host now rather than on the first request.
    RequestGuard(bind_, 0, allowHosts_, tls_);
}

void HttpAccess::serveOn(int port, AccountApi::StreamEnder endStreams) {
    auto guard = std::make_shared<const RequestGuard>(bind_, port, allowHosts_, tls_);
    const std::lock_guard<std::mutex> lock(guardMutex_);
    guard_ = std::move(guard);
    endStreams_ = std::move(endStreams);
}

void HttpAccess::endStreamsOf(const std::string& name, bool token) const {
    AccountApi::StreamEnder endStreams;
    {
        const std::lock_guard<std::mutex> lock(guardMutex_);
        endStreams = endStreams_;
    }
    if (endStreams) {
        endStreams(name, token);
    }
}

std::shared_ptr<const RequestGuard> HttpAccess::guard() const {
    const std::lock_guard<std::mutex> lock(guardMutex_);
    return guard_;
}

std::string HttpAccess::sessionCookie(const std::string& id) const {
    // HttpOnly: no script on a page reads it. SameSite=Strict: the browser
    // sends it with no request that another site's page starts, not even a
    // link followed from there.
    std::string cookie =
        std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict";
    if (tls_) {
        cookie += "; Secure";
    }
    if (id.empty()) {
        cookie += "; Max-Age=0";
    }
    return cookie;
}

std::string HttpAccess::sessionId(const HttpRequest& request) {
    const std::string name = std::string(kSessionCookie) + "=";
    const std::string cookies = request.header("Cookie").value_or("");
    std::size_t start = 0;
    while (start < cookies.size()) {
        const std::size_t end = std::min(cookies.find(';', start), cookies.size());
        const std::size_t first = cookies.find_first_not_of(' ', start);
        if (first < end && cookies.compare(first, name.size(), name) == 0) {
            return cookies.substr(first + name.size(), end - first - name.size());
        }
        start = end + 1;
    }
    return "";
}

bool HttpAccess::admit(HttpRequest& request, RouteAccess least, HttpResponse& response) {
    return *check(request, least, response, false);
}

std::optional<bool> HttpAccess::admitFromMemory(HttpRequest& request, RouteAccess least,
                                                HttpResponse& response) {
    return check(request, least, response, true);
}

std::optional<bool> HttpAccess::check(HttpRequest& request, RouteAccess least,
                                      HttpResponse& response, bool memoryOnly) {
    const std::optional<std::string> authorization = request.header("Authorization");
    const std::string id = authorization ? std::string() : sessionId(request);
    std::optional<Identity> known;
    if (memoryOnly && (authorization || !id.empty())) {
        if (authorization) {
            if (authorization->rfind(kBearer, 0) == 0) {
                known = identities_.fromMemory(authorization->substr(std::string(kBearer).size()),
                                               true);
            }
        } else {
            known = identities_.fromMemory(id, false);
        }
        if (!known) {
            return std::nullopt;
        }
    }
    const std::shared_ptr<const RequestGuard> checker = guard();
    if (!checker) {
        sendError(response, kUnavailable, "the host is starting");
        return false;
    }
    const GuardVerdict verdict =
        checker->check(GuardedRequest{request.method, request.header("Host"),
                                      request.header("Origin"), request.header("Content-Type")});
    if (!verdict.allowed()) {
        log_.add(0, "warning",
                 "refused " + printable(request.method + " " + request.path) + " from " +
                     request.remoteAddr + ": " + printable(verdict.message));
        sendError(response, verdict.status, verdict.message);
        return false;
    }
    std::optional<Identity> identity = known;
    try {
        if (known) {
            // Decided from memory above.
        } else if (authorization) {
            if (authorization->rfind(kBearer, 0) != 0 ||
                !(identity = identities_.verifyToken(
                      authorization->substr(std::string(kBearer).size())))) {
                log_.add(0, "warning",
                         "refused " + printable(request.method + " " + request.path) + " from " +
                             request.remoteAddr + ": an unknown or revoked API token");
                sendError(response, kUnauthorized, "the API token is unknown or was revoked");
                response.headers.emplace_back("WWW-Authenticate", "Bearer");
                return false;
            }
        } else if (!id.empty()) {
            identity = identities_.session(id);
        }
    } catch (const StoreError& error) {
        // Who asks cannot be checked: refused, not served as anonymous.
        log_.add(0, "error",
                 "refused " + printable(request.method + " " + request.path) + " from " +
                     request.remoteAddr + ": the accounts cannot be read: " + error.what());
        // The reason names the database server: the log has it, a client
        // that is not yet known to be anybody does not.
        sendError(response, kUnavailable,
                  "the accounts cannot be read just now; the host's log says why");
        return false;
    }
    if (identity) {
        noteChecked(*identity);
        request.user = identity->name;
        request.byToken = identity->token;
        request.role = identity->role;
    }
    if (!least || (request.role && reaches(*request.role, *least))) {
        return true;
    }
    if (!request.role) {
        sendError(response, kUnauthorized, "log in first");
        response.headers.emplace_back("WWW-Authenticate", "Bearer");
        return false;
    }
    log_.add(0, "warning",
             "refused " + printable(request.method + " " + request.path) + " to " + request.who() +
                 ": " + roleName(*request.role) + " may not, it needs " + roleName(*least));
    sendError(response, kForbidden,
              "a " + roleName(*request.role) + " may not do this; it needs " + roleName(*least));
    return false;
}

void HttpAccess::noteChecked(const Identity& identity) {
    const bool remembered = identity.remembered;
    if (fromMemory_.load() == remembered || fromMemory_.exchange(remembered) == remembered) {
        return;
    }
    if (remembered) {
        log_.add(0, "warning",
                 "the accounts cannot be read: API tokens and sessions checked there within the "
                 "last " +
                     std::to_string(AccountStore::kIdentityGrace.count() / 60) +
                     " min are accepted from memory until they can, others are refused");
    } else {
        log_.add(0, "info",
                 "the accounts can be read again: every API token and session is checked there");
    }
}

std::vector<HttpRoute> HttpAccess::routes(HttpRoute::Handler loginPage) {
    HttpRoute::Handler onceLogin = guarded(&HttpAccess::onceLogin);
    std::vector<HttpRoute> routes = {
        {"GET", "/login", kAnyone,
         [onceLogin, loginPage](HttpRequest& request, HttpResponse& response) {
             (request.hasParam("once") ? onceLogin : loginPage)(request, response);
         }},
        {"POST", "/api/login", kAnyone, guarded(&HttpAccess::login)},
        {"POST", "/api/logout", kAnyone, guarded(&HttpAccess::logout)},
        {"POST", "/api/logout/everywhere", Role::Viewer, guarded(&HttpAccess::logoutEverywhere)},
        // Answers from the request alone: on the I/O thread.
        {"GET", "/api/session", Role::Viewer, guarded(&HttpAccess::session), true},
        {"PUT", "/api/session/password", Role::Viewer, guarded(&HttpAccess::changeOwnPassword)},
    };
    for (auto&& route :
         accountApi_.routes([this](AccountApi::Work work) { return guarded(std::move(work)); })) {
        routes.push_back(std::move(route));
    }
    return routes;
}

HttpRoute::Handler HttpAccess::guarded(Handler handler) {
    return guarded([this, handler](const HttpRequest& request, HttpResponse& response) {
        (this->*handler)(request, response);
    });
}

HttpRoute::Handler HttpAccess::guarded(AccountApi::Work work) {
    return [this, work = std::move(work)](HttpRequest& request, HttpResponse& response) {
        try {
            work(request, response);
        } catch (const AccountError& error) {
            response = HttpResponse();
            sendError(response, kBadRequest, error.what());
        } catch (const StoreError& error) {
            // The store is away or failing: nothing was done, and a later
            // attempt may succeed.
            log_.add(0, "error", error.what());
            response = HttpResponse();
            sendError(response, kUnavailable, error.what());
        }
        if (request.method != "GET") {
            // A change this host made is refused here at once, not only at
            // the table's next reading.
            identities_.reload();
        }
    };
}

void HttpAccess::onceLogin(const HttpRequest& request, HttpResponse& response) {
    response.status = kSeeOther;
    const std::optional<NewSession> opened =
        accounts_.loginOnce(request.param("once"), request.remoteAddr);
    if (!opened) {
        log_.add(0, "warning",
                 "a one-time login link from " + request.remoteAddr +
                     " was refused: it was used before, has expired or never existed");
        // The login page tells the person why the link did not work.
        response.headers.emplace_back("Location", "/login#link-used");
        return;
    }
    log_.add(
        0, "info",
        opened->identity.name + " logged in from " + request.remoteAddr + " with a one-time link");
    response.headers.emplace_back("Set-Cookie", sessionCookie(opened->id));
    response.headers.emplace_back("Location", "/");
}

void HttpAccess::login(const HttpRequest& request, HttpResponse& response) {
    const std::optional<json> body = bodyWith(request, {"name", "password"}, response);
    if (!body) {
        return;
    }
    const std::string name = (*body)["name"];
    auto reserved = limiter_.reserve(request.remoteAddr, name);
    if (const auto* refused = std::get_if<LoginLimiter::Refusal>(&reserved)) {
        const std::string wait = std::to_string(refused->wait.count());
        sendError(response, kTooManyRequests,
                  std::string(refused->account ? "too many failed logins for this account"
                                               : "too many failed logins from this address") +
                      "; try again in " + wait + " s");
        response.headers.emplace_back("Retry-After", wait);
        return;
    }
    // Counted as a failure until the password proves right; taken back
    // when the store cannot check it (StoreError).
    LoginLimiter::Attempt& attempt = std::get<LoginLimiter::Attempt>(reserved);
    const std::optional<NewSession> opened =
        accounts_.login(name, (*body)["password"], request.remoteAddr);
    if (!opened) {
        const bool accountSlowed = attempt.failed();
        log_.add(0, "warning",
                 "a failed login as \"" + printable(name) + "\" from " + request.remoteAddr);
        if (accountSlowed) {
            log_.add(0, "warning",
                     "logins as \"" + printable(name) + "\" are refused for up to " +
                         std::to_string(limiter_.limits().window.count()) +
                         " s: " + std::to_string(limiter_.limits().perAccount) +
                         " failed logins within that time, from any addresses");
        }
        sendError(response, kUnauthorized, "the name or the password is wrong");
        return;
    }
    attempt.succeeded();
    log_.add(0, "info", opened->identity.name + " logged in from " + request.remoteAddr);
    response.headers.emplace_back("Set-Cookie", sessionCookie(opened->id));
    sendJson(response,
             {{"user", opened->identity.name}, {"role", roleName(opened->identity.role)}});
}

void HttpAccess::logout(const HttpRequest& request, HttpResponse& response) {
    const std::string id = sessionId(request);
    if (!id.empty()) {
        accounts_.logout(id);
        if (!request.user.empty() && !request.byToken) {
            log_.add(0, "info", request.user + " logged out from " + request.remoteAddr);
        }
    }
    response.headers.emplace_back("Set-Cookie", sessionCookie(""));
    sendJson(response, json{{"loggedOut", true}});
}

void HttpAccess::logoutEverywhere(const HttpRequest& request, HttpResponse& response) {
    if (request.byToken) {
        sendError(response, kBadRequest, "an API token has no sessions; an admin revokes it");
        return;
    }
    const int ended = accounts_.endSessions(request.user, "", AccountApi::actorOf(request));
    log_.add(
        0, "info",
        request.who() + " logged out everywhere: " + std::to_string(ended) + " session(s) ended");
    endStreamsOf(request.user, false);
    response.headers.emplace_back("Set-Cookie", sessionCookie(""));
    sendJson(response, json{{"loggedOut", true}, {"ended", ended}});
}

void HttpAccess::session(const HttpRequest& request, HttpResponse& response) {
    sendJson(response, whoIs(request));
}

json HttpAccess::whoIs(const HttpRequest& request) {
    json answer = {{"user", request.user},
                   {"role", roleName(request.role.value_or(Role::Viewer))},
                   {"token", request.byToken}};
    if (!request.byToken) {
        // The page asks for a first password while the account has none.
        // Left out while the store cannot be read: who asks was answered
        // from memory then, and the page still works.
        try {
            const std::vector<Account> list = accounts_.accounts();
            const auto own = std::find_if(list.begin(), list.end(), [&](const Account& account) {
                return account.name == request.user;
            });
            answer["hasPassword"] = own != list.end() && own->hasPassword;
            answer["anyPassword"] =
                std::any_of(list.begin(), list.end(),
                            [](const Account& account) { return account.hasPassword; });
        } catch (const StoreError&) {
            answer["hasPassword"] = nullptr;
            answer["anyPassword"] = nullptr;
        }
    }
    return answer;
}

void HttpAccess::changeOwnPassword(const HttpRequest& request, HttpResponse& response) {
    if (request.byToken) {
        sendError(response, kBadRequest, "an API token has no password");
        return;
    }
    const std::optional<json> body = bodyWith(request, {"password"}, response);
    if (!body) {
        return;
    }
    std::string oldPassword;
    if (const auto given = body->find("oldPassword"); given != body->end()) {
        if (!given->is_string()) {
            sendError(response, kBadRequest, "\"oldPassword\" must be a text");
            return;
        }
        oldPassword = given->get<std::string>();
    }
    // Guessing the old password here is slowed like guessing it at login.
    auto reserved = limiter_.reserve(request.remoteAddr, request.user);
    if (const auto* refused = std::get_if<LoginLimiter::Refusal>(&reserved)) {
        const std::string wait = std::to_string(refused->wait.count());
        sendError(response, kTooManyRequests,
                  "too many wrong passwords; try again in " + wait + " s");
        response.headers.emplace_back("Retry-After", wait);
        return;
    }
    LoginLimiter::Attempt& attempt = std::get<LoginLimiter::Attempt>(reserved);
    const bool hadPassword = accounts_.anyPassword();
    if (!accounts_.changeOwnPassword(request.user, oldPassword, (*body)["password"],
                                     sessionId(request), AccountApi::actorOf(request))) {
        attempt.failed();
        log_.add(0, "warning",
                 request.who() + " gave a wrong old password when changing its password");
        sendError(response, kForbidden, "the old password is wrong");
        return;
    }
    attempt.succeeded();
    log_.add(0, "info", request.who() + " changed its password; its other sessions ended");
    accountApi_.noteFirstPassword(hadPassword, request.user);
    endStreamsOf(request.user, false);
    sendJson(response, {{"name", request.user}, {"passwordChanged", true}});
}

}  // namespace panelhost
