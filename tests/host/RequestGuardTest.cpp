// The request guard and the access table: the checks
// the HTTP server runs before any route, as plain functions.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "AccessTable.h"
#include "RequestGuard.h"

namespace {

using panelhost::AccessTable;
using panelhost::GuardedRequest;
using panelhost::RequestGuard;
using panelhost::Role;

constexpr int kAllowed = 0;
constexpr int kForbidden = 403;
constexpr int kMisdirected = 421;

struct Case {
    const char* what;
    GuardedRequest request;
    int status;
};

GuardedRequest request(const char* method, std::optional<std::string> host,
                       std::optional<std::string> origin = std::nullopt,
                       std::optional<std::string> contentType = std::nullopt) {
    return GuardedRequest{method, std::move(host), std::move(origin), std::move(contentType)};
}

// Every case is decided as stated, and whatever is refused is refused with
// 403 or 421 and a message; a request that only reads is never refused for
// its Origin or Content-Type.
void expectVerdicts(const RequestGuard& guard, const std::vector<Case>& cases) {
    for (const Case& one : cases) {
        const auto verdict = guard.check(one.request);
        EXPECT_EQ(verdict.status, one.status) << one.what << ": " << verdict.message;
        EXPECT_EQ(verdict.allowed(), verdict.message.empty()) << one.what;
        if (!RequestGuard::changes(one.request.method) && verdict.status == kForbidden) {
            ADD_FAILURE() << one.what << ": a read refused with 403";
        }
    }
}

TEST(RequestGuard, RefusesRequestsFromElsewhereAndServesTheHostsOwn) {
    const RequestGuard loopback("127.0.0.1", 8080, {});
    expectVerdicts(
        loopback,
        {
            {"cross-site form POST as any page can send it",
             request("POST", "127.0.0.1:8080", "http://evil.example", "text/plain"), kForbidden},
            {"cross-site JSON POST (the browser would ask first; refused anyway)",
             request("POST", "127.0.0.1:8080", "http://evil.example", "application/json"),
             kForbidden},
            {"DNS rebinding: the page's own name as Host", request("GET", "evil.example:8080"),
             kMisdirected},
            {"DNS rebinding write, same origin by the browser's measure",
             request("PUT", "evil.example:8080", "http://evil.example:8080", "application/json"),
             kMisdirected},
            {"sandboxed page (Origin null)",
             request("POST", "127.0.0.1:8080", "null", "application/json"), kForbidden},
            {"other scheme",
             request("POST", "127.0.0.1:8080", "https://127.0.0.1:8080", "application/json"),
             kForbidden},
            {"other port in Origin",
             request("POST", "127.0.0.1:8080", "http://127.0.0.1:9999", "application/json"),
             kForbidden},
            {"PUT without Content-Type", request("PUT", "127.0.0.1:8080"), kForbidden},
            {"DELETE as a form",
             request("DELETE", "localhost:8080", std::nullopt, "application/x-www-form-urlencoded"),
             kForbidden},
            {"JSON look-alike type",
             request("POST", "127.0.0.1:8080", std::nullopt, "application/jsonp"), kForbidden},
            {"no Host", request("GET", std::nullopt), kMisdirected},
            {"other port in Host", request("GET", "127.0.0.1:9090"), kMisdirected},
            {"Host with credentials", request("GET", "127.0.0.1:8080@evil.example"), kMisdirected},
            {"Host without port means port 80", request("GET", "127.0.0.1"), kMisdirected},
            {"another address of the machine", request("GET", "192.0.2.7:8080"), kMisdirected},
            {"same-origin JSON POST from the front end",
             request("POST", "127.0.0.1:8080", "http://127.0.0.1:8080",
                     "application/json; charset=utf-8"),
             kAllowed},
            {"GET without Origin", request("GET", "localhost:8080"), kAllowed},
            {"GET from another site's page (it cannot read the answer)",
             request("GET", "127.0.0.1:8080", "http://evil.example"), kAllowed},
            {"script PUT without Origin",
             request("PUT", "127.0.0.1:8080", std::nullopt, "Application/JSON"), kAllowed},
            {"names in any case",
             request("POST", "LOCALHOST:8080", "http://localhost:8080", "application/json"),
             kAllowed},
            {"IPv6 loopback",
             request("POST", "[::1]:8080", "http://[::1]:8080", "application/json"), kAllowed},
        });

    const RequestGuard network("0.0.0.0", 8080, {"panels.studio.lan", "proxy.studio.lan:443"});
    expectVerdicts(
        network,
        {
            {"DNS rebinding on a network host", request("GET", "evil.example:8080"), kMisdirected},
            {"an allowed name at another port", request("GET", "panels.studio.lan:9000"),
             kMisdirected},
            {"addressed by one name, Origin of another",
             request("POST", "192.0.2.7:8080", "http://panels.studio.lan:8080", "application/json"),
             kForbidden},
            {"a tablet by address", request("GET", "192.0.2.7:8080"), kAllowed},
            {"a tablet by the studio's name",
             request("POST", "panels.studio.lan:8080", "http://panels.studio.lan:8080",
                     "application/json"),
             kAllowed},
            {"through a proxy on the default port", request("GET", "proxy.studio.lan:443"),
             kAllowed},
            {"loopback on a network host", request("GET", "localhost:8080"), kAllowed},
        });

    const RequestGuard studioAddress("2001:db8::10", 8080, {});
    EXPECT_TRUE(studioAddress.check(request("GET", "[2001:db8:0::10]:8080")).allowed());
    EXPECT_FALSE(studioAddress.check(request("GET", "localhost:8080")).allowed());

    EXPECT_THROW(RequestGuard("127.0.0.1", 8080, {"evil.example/path"}), std::invalid_argument);
}

TEST(RequestGuard, LoopbackAddressesAreToldApart) {
    for (const char* address : {"127.0.0.1", "127.1.2.3", "::1", "localhost", "::ffff:127.0.0.1"}) {
        EXPECT_TRUE(RequestGuard::isLoopbackAddress(address)) << address;
    }
    for (const char* address : {"0.0.0.0", "::", "192.0.2.7", "studio-host", "::ffff:10.0.0.1"}) {
        EXPECT_FALSE(RequestGuard::isLoopbackAddress(address)) << address;
    }
}

TEST(AccessTable, EachRoleReachesWhatItMayAndNoMore) {
    struct Row {
        const char* method;
        const char* path;
        std::optional<Role> least;  // nothing: anyone
    };
    const std::vector<Row> rows = {
        {"GET", "/api/panels", Role::Viewer},
        {"GET", "/api/stream", Role::Viewer},
        {"HEAD", "/api/history", Role::Viewer},
        {"POST", "/api/panels/1/events", Role::Operator},
        {"POST", "/api/panels/12/messages", Role::Operator},
        {"PUT", "/api/devices/12/databases/5/37", Role::Engineer},
        {"PUT", "/api/devices/57/slots/212", Role::Engineer},
        {"POST", "/api/devices/12/databases/3/import", Role::Engineer},
        {"POST", "/api/devices/12/databases/3/import/preview", Role::Viewer},
        {"POST", "/api/batches/4/undo", Role::Engineer},
        {"GET", "/api/find", Role::Viewer},
        {"POST", "/api/accounts", Role::Admin},
        {"DELETE", "/api/tokens/monitoring", Role::Admin},
        {"POST", "/api/login", std::nullopt},
        {"GET", "/", std::nullopt},
        {"GET", "/js/app.js", std::nullopt},
        {"GET", "/healthz", std::nullopt},
        {"GET", "/metrics", Role::Viewer},
        {"POST", "/metrics", Role::Admin},
        // Not in the table: reads need an account, anything else an admin.
        {"GET", "/api/something-new", Role::Viewer},
        {"POST", "/api/panels/x/events", Role::Admin},
        {"DELETE", "/api/panels/1", Role::Admin},
        {"POST", "/index.html", Role::Admin},
    };
    const std::vector<std::optional<Role>> holders = {std::nullopt, Role::Viewer, Role::Operator,
                                                      Role::Engineer, Role::Admin};
    for (const Row& row : rows) {
        EXPECT_EQ(AccessTable::leastRole(row.method, row.path), row.least)
            << row.method << " " << row.path;
        for (const auto& held : holders) {
            const bool expected =
                !row.least || (held && static_cast<int>(*held) >= static_cast<int>(*row.least));
            EXPECT_EQ(AccessTable::allowed(held, row.method, row.path), expected)
                << row.method << " " << row.path;
        }
    }
}

TEST(AccessTable, EveryDocumentedRouteHasARule) {
    std::ifstream docs(PANELHOST_API_DOCS);
    ASSERT_TRUE(docs) << PANELHOST_API_DOCS;
    const std::regex heading(R"(^### `([A-Z]+) (/api/[^ `?]*))");
    const std::regex placeholder(R"(\{[a-z]+\})");
    int routes = 0;
    for (std::string line; std::getline(docs, line);) {
        std::smatch route;
        if (!std::regex_search(line, route, heading)) {
            continue;
        }
        ++routes;
        const std::string path = std::regex_replace(route[2].str(), placeholder, "7");
        bool ruled = false;
        for (const auto& rule : AccessTable::rules()) {
            const std::string pattern = std::regex_replace(rule.path, placeholder, "7");
            ruled = ruled || (route[1] == rule.method && pattern == path);
        }
        EXPECT_TRUE(ruled) << line;
    }
    EXPECT_GT(routes, 10);
}

}  // namespace
