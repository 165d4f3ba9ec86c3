#include "AccountApi.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "HttpStatus.h"
#include "JsonReply.h"

namespace panelhost {
namespace {

using nlohmann::json;

using namespace reply;

// The role named by the body's field "role"; nothing, with a 400, for any
// other text.
std::optional<Role> bodyRole(const json& body, HttpResponse& response) {
    const auto field = body.find("role");
    const std::optional<Role> role = field != body.end() && field->is_string()
                                         ? parseRole(field->get<std::string>())
                                         : std::nullopt;
    if (!role) {
        sendError(response, kBadRequest, "\"role\" is one of viewer, operator, engineer, admin");
    }
    return role;
}

// The optional text field `name` of `body`: nothing when absent, a 400
// (and `ok` false) when it is not a text.
std::optional<std::string> optionalText(const json& body, const char* name, HttpResponse& response,
                                        bool& ok) {
    const auto field = body.find(name);
    if (field == body.end()) {
        return std::nullopt;
    }
    if (!field->is_string()) {
        sendError(response, kBadRequest, std::string("\"") + name + "\" must be a text");
        ok = false;
        return std::nullopt;
    }
    return field->get<std::string>();
}

json accountJson(const Account& account) {
    return {{"name", account.name},
            {"role", roleName(account.role)},
            {"hasPassword", account.hasPassword},
            {"created", account.created},
            {"lastLogin", account.lastLogin.empty() ? json(nullptr) : json(account.lastLogin)}};
}

json changeJson(const AccountChange& change) {
    return {{"id", change.id},           {"time", change.time},     {"actor", change.actor},
            {"address", change.address}, {"action", change.action}, {"subject", change.subject},
            {"detail", change.detail}};
}

}  // namespace

AccountApi::AccountApi(AccountStore& accounts, EventLog& log, StreamEnder endStreams)
    : accounts_(accounts), log_(log), endStreams_(std::move(endStreams)) {}

Actor AccountApi::actorOf(const HttpRequest& request) {
    return Actor{request.byToken ? "token " + request.user : request.user, request.remoteAddr};
}

std::vector<HttpRoute> AccountApi::routes(const Guard& guard) {
    const auto on = [this, &guard](void (AccountApi::*handler)(const HttpRequest&, HttpResponse&)) {
        return guard([this, handler](const HttpRequest& request, HttpResponse& response) {
            (this->*handler)(request, response);
        });
    };
    return {
        {"GET", "/api/accounts", Role::Admin, on(&AccountApi::listAccounts)},
        {"POST", "/api/accounts", Role::Admin, on(&AccountApi::addAccount)},
        {"PUT", "/api/accounts/{name}", Role::Admin, on(&AccountApi::changeAccount)},
        {"DELETE", "/api/accounts/{name}", Role::Admin, on(&AccountApi::removeAccount)},
        {"GET", "/api/accounts/{name}/sessions", Role::Admin, on(&AccountApi::listSessions)},
        {"DELETE", "/api/accounts/{name}/sessions", Role::Admin, on(&AccountApi::endSessions)},
        {"DELETE", "/api/accounts/{name}/sessions/{name}", Role::Admin,
         on(&AccountApi::endSession)},
        {"GET", "/api/tokens", Role::Admin, on(&AccountApi::listTokens)},
        {"POST", "/api/tokens", Role::Admin, on(&AccountApi::createToken)},
        {"DELETE", "/api/tokens/{name}", Role::Admin, on(&AccountApi::revokeToken)},
        {"GET", "/api/account-changes", Role::Admin, on(&AccountApi::changes)},
    };
}

void AccountApi::noteFirstPassword(bool hadPassword, const std::string& name) {
    if (!hadPassword && accounts_.anyPassword()) {
        log_.add(0, "info",
                 name +
                     " has the first password: one-time login links work no more, and the "
                     "host may now be started on an address beyond loopback");
    }
}

void AccountApi::listAccounts(const HttpRequest&, HttpResponse& response) {
    json list = json::array();
    for (const Account& account : accounts_.accounts()) {
        list.push_back(accountJson(account));
    }
    sendJson(response, {{"accounts", list}});
}

void AccountApi::addAccount(const HttpRequest& request, HttpResponse& response) {
    const std::optional<json> body = bodyWith(request, {"name", "role", "password"}, response);
    const std::optional<Role> role = body ? bodyRole(*body, response) : std::nullopt;
    if (!role) {
        return;
    }
    const std::string name = (*body)["name"];
    const bool hadPassword = accounts_.anyPassword();
    accounts_.addAccount(name, *role, (*body)["password"], actorOf(request));
    log_.add(0, "info",
             request.who() + " added the account " + name + " (" + roleName(*role) + ")");
    noteFirstPassword(hadPassword, name);
    sendJson(response, {{"name", name}, {"role", roleName(*role)}});
}

void AccountApi::changeAccount(const HttpRequest& request, HttpResponse& response) {
    const std::string& name = request.matches[1];
    const std::optional<json> body = jsonBody(request, response);
    if (!body) {
        return;
    }
    bool ok = true;
    const std::optional<std::string> password = optionalText(*body, "password", response, ok);
    const std::optional<std::string> roleText =
        ok ? optionalText(*body, "role", response, ok) : std::nullopt;
    if (!ok) {
        return;
    }
    if (!password && !roleText) {
        sendError(response, kBadRequest, "send a \"password\", a \"role\" or both");
        return;
    }
    std::optional<Role> role;
    if (roleText) {
        role = parseRole(*roleText);
        if (!role) {
            sendError(response, kBadRequest,
                      "\"role\" is one of viewer, operator, engineer, admin");
            return;
        }
    }
    if (password && password->size() < AccountStore::kShortestPassword) {
        // Refused before the role changes, so that nothing is half done.
        sendError(response, kBadRequest,
                  "a password has at least " + std::to_string(AccountStore::kShortestPassword) +
                      " characters");
        return;
    }
    const Actor by = actorOf(request);
    json answer = {{"name", name}};
    // The role first: refused for the last admin, it leaves the password
    // as it was too.
    if (role) {
        accounts_.setRole(name, *role, by);
        log_.add(0, "info",
                 request.who() + " gave " + name + " the role " + roleName(*role) +
                     ", effective at its next request");
        answer["role"] = roleName(*role);
    }
    if (password) {
        const bool hadPassword = accounts_.anyPassword();
        accounts_.setPassword(name, *password, by);
        log_.add(0, "info",
                 request.who() + " set a new password for " + name + " and ended its sessions");
        noteFirstPassword(hadPassword, name);
        answer["passwordSet"] = true;
    }
    endStreams_(name, false);
    sendJson(response, answer);
}

void AccountApi::removeAccount(const HttpRequest& request, HttpResponse& response) {
    const std::string& name = request.matches[1];
    accounts_.removeAccount(name, actorOf(request));
    log_.add(0, "info", request.who() + " removed the account " + name);
    endStreams_(name, false);
    sendJson(response, {{"name", name}, {"removed", true}});
}

void AccountApi::listSessions(const HttpRequest& request, HttpResponse& response) {
    const std::string& name = request.matches[1];
    json list = json::array();
    for (const SessionInfo& session : accounts_.sessions(name)) {
        list.push_back({{"id", session.id},
                        {"created", session.created},
                        {"lastUsed", session.lastUsed},
                        {"address", session.address}});
    }
    sendJson(response, {{"name", name}, {"sessions", list}});
}

void AccountApi::endSessions(const HttpRequest& request, HttpResponse& response) {
    const std::string& name = request.matches[1];
    // An unknown account is told apart from one without sessions.
    accounts_.sessions(name);
    const int ended = accounts_.endSessions(name, "", actorOf(request));
    log_.add(0, "info",
             request.who() + " ended " + std::to_string(ended) + " session(s) of " + name);
    endStreams_(name, false);
    sendJson(response, {{"name", name}, {"ended", ended}});
}

void AccountApi::endSession(const HttpRequest& request, HttpResponse& response) {
    const std::string& name = request.matches[1];
    const std::string& id = request.matches[2];
    accounts_.sessions(name);
    if (!accounts_.endSession(name, id, actorOf(request))) {
        sendError(response, kNotFound, name + " has no open session " + id);
        return;
    }
    log_.add(0, "info", request.who() + " ended a session of " + name);
    // The page of the ended session learns so when its stream reconnects;
    // the account's other pages just reconnect.
    endStreams_(name, false);
    sendJson(response, {{"name", name}, {"ended", 1}});
}

void AccountApi::listTokens(const HttpRequest&, HttpResponse& response) {
    json list = json::array();
    for (const TokenInfo& token : accounts_.tokens()) {
        list.push_back(
            {{"name", token.name},
             {"role", roleName(token.role)},
             {"created", token.created},
             {"lastUsed", token.lastUsed.empty() ? json(nullptr) : json(token.lastUsed)}});
    }
    sendJson(response, {{"tokens", list}});
}

void AccountApi::createToken(const HttpRequest& request, HttpResponse& response) {
    const std::optional<json> body = jsonBody(request, response);
    const std::optional<Role> role = body ? bodyRole(*body, response) : std::nullopt;
    if (!role) {
        return;
    }
    bool ok = true;
    const std::string tokenName = optionalText(*body, "name", response, ok).value_or("");
    if (!ok) {
        return;
    }
    const NewToken created = accounts_.createToken(*role, tokenName, actorOf(request));
    log_.add(
        0, "info",
        request.who() + " created the API token " + created.name + " (" + roleName(*role) + ")");
    sendJson(response,
             {{"name", created.name}, {"role", roleName(*role)}, {"token", created.token}});
}

void AccountApi::revokeToken(const HttpRequest& request, HttpResponse& response) {
    const std::string& name = request.matches[1];
    accounts_.revokeToken(name, actorOf(request));
    log_.add(0, "info", request.who() + " revoked the API token " + name);
    endStreams_(name, true);
    sendJson(response, {{"name", name}, {"revoked", true}});
}

void AccountApi::changes(const HttpRequest& request, HttpResponse& response) {
    const std::optional<long long> before = queryNumber(request, "before", 0, response);
    const std::optional<long long> limit =
        before ? queryNumber(request, "limit", kChangesPage, response) : std::nullopt;
    if (!limit) {
        return;
    }
    if (*before < 0 || *limit < 1 || *limit > kChangesPage) {
        sendError(response, kBadRequest,
                  "before is 0 or more, limit lies in 1.." + std::to_string(kChangesPage));
        return;
    }
    json list = json::array();
    for (const AccountChange& change : accounts_.changes(*before, static_cast<int>(*limit))) {
        list.push_back(changeJson(change));
    }
    sendJson(response, {{"changes", list}});
}

}  // namespace panelhost
