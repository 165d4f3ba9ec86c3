// Who may reach the running host and what each may do: requests from other
// sites and from nobody, each role's rights, and logging in and out, through
// the HTTP API on a loopback port the system chooses.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "LoginLimiter.h"
#include "RunningHost.h"
#include "SqliteAccountStore.h"
#include "TempFolder.h"

using namespace panelhost;
using nlohmann::json;

namespace {

std::string cookieOf(const httplib::Result& answer) {
    const std::string set = answer->get_header_value("Set-Cookie");
    return set.substr(0, set.find(';'));
}

}  // namespace

TEST(EndToEnd, RequestsFromOtherSitesAndFromNobodyChangeNothing) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    const json wallBefore = host.get("/api/wall").second;
    const std::string port = std::to_string(host.port());
    const std::string press7 =
        json{{"panel", "1"}, {"control", "Select_7"}, {"event", "button=pressed"}}.dump();
    const std::string confirm =
        json{{"panel", "1"}, {"control", "Confirm"}, {"event", "button=pressed"}}.dump();

    // A page of another site posts as a form would, which needs no asking
    // first; the credentials are the admin's, as if the browser added them.
    httplib::Client page("127.0.0.1", host.port());
    page.set_bearer_token_auth(host.token());
    const httplib::Headers foreign = {{"Origin", "http://evil.example"}};
    for (const std::string& body : {press7, confirm}) {
        for (const char* type : {"text/plain", "application/json"}) {
            const auto answer = page.Post("/api/panels/1/events", foreign, body, type);
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->status, 403) << type << " " << answer->body;
            EXPECT_TRUE(json::parse(answer->body).contains("error"));
        }
    }
    EXPECT_EQ(page.Post("/api/panels/1/events", press7, "text/plain")->status, 403);

    // A page whose own name was pointed at this host (DNS rebinding).
    const httplib::Headers rebound = {{"Host", "evil.example:" + port}};
    EXPECT_EQ(page.Get("/api/wall", rebound)->status, 421);
    EXPECT_EQ(page.Post("/api/panels/1/events", rebound, press7, "application/json")->status, 421);
    EXPECT_EQ(page.Get("/", rebound)->status, 421);

    // Anybody on the network, with no account.
    httplib::Client anybody("127.0.0.1", host.port());
    EXPECT_EQ(anybody.Post("/api/panels/1/events", press7, "application/json")->status, 401);
    EXPECT_EQ(
        anybody.Put("/api/devices/12/databases/1/1", R"({"text": "Hacked"})", "application/json")
            ->status,
        401);
    for (const char* read : {"/api/wall", "/api/stream", "/api/history", "/api/log"}) {
        EXPECT_EQ(anybody.Get(read)->status, 401) << read;
    }
    anybody.set_bearer_token_auth("pht_guessed");
    EXPECT_EQ(anybody.Get("/api/wall")->status, 401);

    EXPECT_EQ(host.get("/api/wall").second, wallBefore);
    EXPECT_EQ(host.property(1, "1", "Select_7", "statesheet"), "ZRSourceDeselected");
    EXPECT_EQ(host.name(1, 1), host.get("/api/devices/12/databases/1/1").second["text"]);
    EXPECT_NE(host.name(1, 1), "Hacked");
    std::size_t warnings = 0;
    for (const LogEntry& entry : host.host().log().since(0, 100000)) {
        warnings += entry.kind == "warning" && entry.text.rfind("refused ", 0) == 0 ? 1u : 0u;
    }
    EXPECT_GE(warnings, 8u);
}

TEST(EndToEnd, EachRoleMayDoWhatItMayAndNoMore) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    std::map<Role, std::string> tokens;
    {
        SqliteAccountStore accounts(data.path() / "panelhost.db");
        for (const Role role : {Role::Viewer, Role::Operator, Role::Engineer, Role::Admin}) {
            tokens[role] = accounts.createToken(role, "as-" + roleName(role)).token;
        }
    }
    struct Call {
        const char* method;
        const char* path;
        const char* body;
        Role least;
    };
    const std::vector<Call> calls = {
        {"GET", "/api/panels", "", Role::Viewer},
        {"GET", "/api/panels/1", "", Role::Viewer},
        {"GET", "/api/devices/12/databases/5/37", "", Role::Viewer},
        {"GET", "/api/devices/57/slots", "", Role::Viewer},
        {"GET", "/api/wall", "", Role::Viewer},
        {"GET", "/api/tsl", "", Role::Viewer},
        {"GET", "/api/log?limit=5", "", Role::Viewer},
        {"GET", "/api/history", "", Role::Viewer},
        {"GET", "/api/session", "", Role::Viewer},
        {"POST", "/api/panels/1/messages", R"({"text": "myParam=x"})", Role::Operator},
        {"POST", "/api/panels/1/events",
         R"({"panel": "1", "control": "Select_2", "event": "button=pressed"})", Role::Operator},
        {"PUT", "/api/devices/12/databases/5/37", R"({"text": "Written"})", Role::Engineer},
        {"PUT", "/api/devices/57/slots/100", R"({"text": "5"})", Role::Engineer},
        {"GET", "/api/accounts", "", Role::Admin},
        {"GET", "/api/tokens", "", Role::Admin},
        {"POST", "/api/tokens", R"({"role": "viewer"})", Role::Admin},
        {"DELETE", "/api/tokens/none-such", "", Role::Admin},
        {"DELETE", "/api/devices/12", "", Role::Admin},
    };
    const std::vector<std::optional<Role>> holders = {std::nullopt, Role::Viewer, Role::Operator,
                                                      Role::Engineer, Role::Admin};
    for (const auto& holder : holders) {
        httplib::Client client("127.0.0.1", host.port());
        if (holder) {
            client.set_bearer_token_auth(tokens[*holder]);
        }
        for (const Call& call : calls) {
            const auto answer = client.send([&] {
                httplib::Request request;
                request.method = call.method;
                request.path = call.path;
                request.body = call.body;
                if (std::string(call.method) != "GET") {
                    request.set_header("Content-Type", "application/json");
                }
                return request;
            }());
            ASSERT_TRUE(answer);
            const int expected = !holder ? 401 : reaches(*holder, call.least) ? 0 : 403;
            const std::string who = holder ? roleName(*holder) : "nobody";
            if (expected == 0) {
                EXPECT_NE(answer->status, 401) << who << " " << call.method << " " << call.path;
                EXPECT_NE(answer->status, 403)
                    << who << " " << call.method << " " << call.path << ": " << answer->body;
            } else {
                EXPECT_EQ(answer->status, expected)
                    << who << " " << call.method << " " << call.path << ": " << answer->body;
            }
        }
    }
    const json history = host.get("/api/history?device=12&database=5&index=37").second;
    ASSERT_EQ(history["entries"].size(), 2u);
    EXPECT_EQ(history["entries"][0]["who"], "token as-admin (127.0.0.1)");
    EXPECT_EQ(history["entries"][1]["who"], "token as-engineer (127.0.0.1)");
}

TEST(EndToEnd, LoggingInWithALinkOrAPasswordAndOut) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    ASSERT_TRUE(host.host().loginLink());
    const std::string link = *host.host().loginLink();
    const std::string target = link.substr(link.find("/login?"));
    httplib::Client browser("127.0.0.1", host.port());

    const auto opened = browser.Get(target);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->status, 303);
    EXPECT_EQ(opened->get_header_value("Location"), "/");
    const std::string setCookie = opened->get_header_value("Set-Cookie");
    EXPECT_NE(setCookie.find("HttpOnly"), std::string::npos) << setCookie;
    EXPECT_NE(setCookie.find("SameSite=Strict"), std::string::npos) << setCookie;
    EXPECT_EQ(setCookie.find("Secure"), std::string::npos) << setCookie;
    const httplib::Headers admin = {{"Cookie", cookieOf(opened)}};
    const json session = json::parse(browser.Get("/api/session", admin)->body);
    EXPECT_EQ(session["user"], "admin");
    EXPECT_EQ(session["role"], "admin");
    const auto again = browser.Get(target);
    EXPECT_EQ(again->status, 303);
    EXPECT_EQ(again->get_header_value("Location"), "/login#link-used");
    EXPECT_FALSE(again->has_header("Set-Cookie"));

    // The admin adds an operator; the operator logs in with a password.
    EXPECT_EQ(browser
                  .Post("/api/accounts", admin,
                        R"({"name": "studio", "role": "operator", "password": "on air 2024"})",
                        "application/json")
                  ->status,
              200);
    const auto login = browser.Post(
        "/api/login", R"({"name": "studio", "password": "on air 2024"})", "application/json");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 200) << login->body;
    const httplib::Headers studio = {{"Cookie", cookieOf(login)}};
    EXPECT_EQ(json::parse(browser.Get("/api/session", studio)->body)["role"], "operator");
    EXPECT_EQ(browser
                  .Post("/api/panels/1/events", studio,
                        R"({"panel": "1", "control": "Select_3", "event": "button=pressed"})",
                        "application/json")
                  ->status,
              200);
    EXPECT_EQ(browser
                  .Put("/api/devices/12/databases/5/37", studio, R"({"text": "Operator"})",
                       "application/json")
                  ->status,
              403);
    // Made an engineer, the same session writes names at its next request;
    // the first start's admin, still without a password and the only admin,
    // keeps its role.
    EXPECT_FALSE(session["hasPassword"]);
    EXPECT_EQ(
        browser.Put("/api/accounts/studio", admin, R"({"role": "engineer"})", "application/json")
            ->status,
        200);
    EXPECT_EQ(browser
                  .Put("/api/devices/12/databases/5/37", studio, R"({"text": "Engineer"})",
                       "application/json")
                  ->status,
              200);
    const auto demoted =
        browser.Put("/api/accounts/admin", admin, R"({"role": "viewer"})", "application/json");
    EXPECT_EQ(demoted->status, 400);
    EXPECT_NE(demoted->body.find("last admin"), std::string::npos) << demoted->body;
    const auto out = browser.Post("/api/logout", studio, "{}", "application/json");
    EXPECT_EQ(out->status, 200);
    EXPECT_NE(out->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(browser.Get("/api/session", studio)->status, 401);

    // Guessing is slowed: after the allowed failures even the right
    // password waits.
    for (std::size_t i = 0; i < LoginLimits{}.perAddress; ++i) {
        EXPECT_EQ(
            browser
                .Post("/api/login",
                      R"({"name": "studio", "password": "guess)" + std::to_string(i) + R"("})",
                      "application/json")
                ->status,
            401);
    }
    const auto slowed = browser.Post(
        "/api/login", R"({"name": "studio", "password": "on air 2024"})", "application/json");
    EXPECT_EQ(slowed->status, 429);
    EXPECT_GE(std::stoi(slowed->get_header_value("Retry-After")), 1);
    for (const LogEntry& entry : host.host().log().since(0, 100000)) {
        EXPECT_EQ(entry.text.find("on air 2024"), std::string::npos) << entry.text;
        EXPECT_EQ(entry.text.find(host.token()), std::string::npos) << entry.text;
    }
}
