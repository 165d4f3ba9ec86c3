// Every route the running host declares, asked as nobody and as each role,
// and the admin-only routes asked by a viewer under other spellings of
// their paths: the access check, the dispatch and the documentation read
// one declaration, so a role reaches what its route names and no more.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "RunningHost.h"
#include "SqliteAccountStore.h"
#include "TempFolder.h"

using namespace panelhost;

namespace {

const std::vector<std::optional<Role>> kHolders = {std::nullopt, Role::Viewer, Role::Operator,
                                                   Role::Engineer, Role::Admin};

// A host with a token for each role.
class RolesHost {
  public:
    RolesHost() : host_(data_.path(), 1) {
        SqliteAccountStore accounts(data_.path() / "panelhost.db");
        for (const Role role : {Role::Viewer, Role::Operator, Role::Engineer, Role::Admin}) {
            tokens_[role] = accounts.createToken(role, "as-" + roleName(role)).token;
        }
    }

    RunningHost& host() { return host_; }

    // Sends `method` `target` as `holder` (nothing: nobody) with a JSON body
    // for anything but a GET; the status and, unless `headOnly`, the body.
    // With `headOnly` the answer is left after its head (an event stream
    // never ends).
    std::pair<int, std::string> send(const std::optional<Role>& holder, const std::string& method,
                                     const std::string& target, bool headOnly = false) {
        httplib::Client client("127.0.0.1", host_.port());
        httplib::Headers headers;
        if (holder) {
            headers.emplace("Authorization", "Bearer " + tokens_[*holder]);
        }
        if (method == "GET") {
            int status = 0;
            std::string body;
            const auto result = client.Get(
                target, headers,
                [&](const httplib::Response& head) {
                    status = head.status;
                    return !headOnly;
                },
                [&](const char* data, std::size_t size) {
                    body.append(data, size);
                    return true;
                });
            EXPECT_TRUE(result || headOnly) << target;
            return {status, body};
        }
        httplib::Request request;
        request.method = method;
        request.path = target;
        request.headers = headers;
        request.body = "{}";
        request.set_header("Content-Type", "application/json");
        const auto result = client.send(request);
        EXPECT_TRUE(result) << method << " " << target;
        return result ? std::pair{result->status, result->body} : std::pair{0, std::string()};
    }

  private:
    TempFolder data_;
    RunningHost host_;
    std::map<Role, std::string> tokens_;
};

// A path that the route's pattern matches.
std::string concrete(const std::string& pattern) {
    return std::regex_replace(std::regex_replace(pattern, std::regex(R"(\{n\})"), "1"),
                              std::regex(R"(\{name\})"), "nobody-such");
}

std::string who(const std::optional<Role>& holder) {
    return holder ? roleName(*holder) : "nobody";
}

}  // namespace

TEST(RouteAccess, EveryDeclaredRouteAnswersTheRolesItNamesAndRefusesTheOthers) {
    RolesHost roles;
    const std::vector<HttpRoute>& routes = roles.host().host().routes().routes();
    ASSERT_GT(routes.size(), 30U);
    for (const HttpRoute& route : routes) {
        const std::string target = concrete(route.pattern);
        for (const auto& holder : kHolders) {
            const auto [status, body] =
                roles.send(holder, route.method, target, route.pattern == "/api/stream");
            const std::string call = who(holder) + " " + route.method + " " + target;
            if (route.least && !holder) {
                EXPECT_EQ(status, 401) << call;
            } else if (route.least && !reaches(*holder, *route.least)) {
                EXPECT_EQ(status, 403) << call;
            } else {
                EXPECT_NE(status, 0) << call;
                EXPECT_NE(status, 401) << call;
                EXPECT_NE(status, 403) << call;
                EXPECT_EQ(body.find("no such resource"), std::string::npos)
                    << call << " reached no route";
            }
        }
    }
}

TEST(RouteAccess, AdminListsAreNotReachedUnderOtherSpellingsOfTheirPaths) {
    RolesHost roles;
    const auto [listed, accounts] = roles.send(Role::Admin, "GET", "/api/accounts");
    ASSERT_EQ(listed, 200);
    ASSERT_NE(accounts.find("\"hasPassword\""), std::string::npos);
    // What an answer with admin data would hold: an account's or a token's
    // fields.
    const std::vector<std::string> adminData = {"\"hasPassword\"", "as-admin", "\"tokens\"",
                                                "\"accounts\""};
    std::set<std::string> checked;
    for (const HttpRoute& route : roles.host().host().routes().routes()) {
        if (route.least != Role::Admin) {
            continue;
        }
        const std::string path = concrete(route.pattern);
        std::string upper = path;
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        const std::string last = path.substr(path.rfind('/'));
        const std::string before = path.substr(0, path.rfind('/'));
        for (const std::string& variant :
             {path + "/", path + "//", "/" + path, before + "/" + last,
              before + "%2F" + last.substr(1), before + "%2f" + last.substr(1), path + ";x",
              path + "%3Bx", path + "/.", path + "/x/..", upper, path + "%00", path + "%20"}) {
            checked.insert(route.method + " " + variant);
            const auto [status, body] = roles.send(Role::Viewer, route.method, variant);
            const std::string call = "viewer " + route.method + " " + variant;
            EXPECT_TRUE(status == 400 || status == 403 || status == 404) << call << ": " << status;
            for (const std::string& data : adminData) {
                EXPECT_EQ(body.find(data), std::string::npos) << call << ": " << body;
            }
        }
    }
    EXPECT_GE(checked.size(), 7U * 10U);
}

TEST(RouteAccess, EveryDocumentedRouteIsDeclaredAndEveryDeclaredRouteDocumented) {
    RolesHost roles;
    // Placeholders of any name read alike; the query is no part of a route.
    const auto shape = [](const std::string& method, const std::string& path) {
        return method + " " +
               std::regex_replace(path.substr(0, path.find('?')), std::regex(R"(\{[a-z]+\})"),
                                  "{}");
    };
    std::ifstream docs(PANELHOST_API_DOCS);
    ASSERT_TRUE(docs) << PANELHOST_API_DOCS;
    const std::regex heading(R"(^### `([A-Z]+) (/[^ `]*))");
    std::set<std::string> documented;
    for (std::string line; std::getline(docs, line);) {
        std::smatch route;
        if (std::regex_search(line, route, heading)) {
            documented.insert(shape(route[1], route[2]));
        }
    }
    std::set<std::string> declared;
    for (const HttpRoute& route : roles.host().host().routes().routes()) {
        declared.insert(shape(route.method, route.pattern));
    }
    EXPECT_EQ(documented, declared);
}
