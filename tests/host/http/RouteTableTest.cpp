// How a request's path is read and which route it names: once, plainly,
// and exactly one route or none.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "RequestTarget.h"
#include "RouteTable.h"

namespace {

using panelhost::HttpRequest;
using panelhost::HttpResponse;
using panelhost::HttpRoute;
using panelhost::kAnyone;
using panelhost::RequestTarget;
using panelhost::Role;
using panelhost::RouteTable;

TEST(RequestTarget, APathIsDecodedOnceAndMustBePlain) {
    HttpRequest request;
    EXPECT_EQ(RequestTarget::read("/api/find?text=Cam+1%26&n=%41", request), "");
    EXPECT_EQ(request.path, "/api/find");
    ASSERT_EQ(request.params.size(), 2U);
    EXPECT_EQ(request.param("text"), "Cam 1&");
    EXPECT_EQ(request.param("n"), "A");
    EXPECT_EQ(RequestTarget::read("/name%20sets/a+b", request), "");
    EXPECT_EQ(request.path, "/name sets/a+b");
    // A trailing slash is a path of its own; it names no route (below).
    EXPECT_EQ(RequestTarget::read("/api/accounts/", request), "");
    EXPECT_EQ(request.path, "/api/accounts/");

    for (const char* refused :
         {"api/panels", "http://host/api/panels", "//api/accounts", "/api//accounts",
          "/api/%2Faccounts", "/api%2faccounts", "/api%5Caccounts", "/api/accounts;x",
          "/api/accounts%3Bx", "/api/./accounts", "/api/panels/..", "/api/%2E%2E/accounts",
          "/api/accounts%00", "/api/accounts%0a", "/api\\accounts"}) {
        HttpRequest refusedRequest;
        EXPECT_NE(RequestTarget::read(refused, refusedRequest), "") << refused;
        EXPECT_EQ(refusedRequest.path, "") << refused;
    }
}

TEST(RouteTable, APathNamesExactlyOneRouteOrNone) {
    std::vector<std::string> ran;
    const auto handler = [&](const char* name) {
        return [&ran, name](HttpRequest& request, HttpResponse&) {
            std::string call = name;
            for (std::size_t i = 1; i < request.matches.size(); ++i) {
                call += " " + request.matches[i];
            }
            ran.push_back(call);
        };
    };
    const RouteTable table({{"GET", "/api/accounts", Role::Admin, handler("list")},
                            {"PUT", "/api/accounts/{name}", Role::Admin, handler("set")},
                            {"GET", "/api/devices/{n}/slots/{n}", Role::Viewer, handler("slot")},
                            {"GET", "/healthz", kAnyone, handler("health")}});
    const auto run = [&](const std::string& method, const std::string& path) {
        const auto found = table.find(method, path);
        if (!found) {
            return std::string("none");
        }
        HttpRequest request;
        HttpResponse response;
        RouteTable::run(*found, request, response);
        return ran.back();
    };
    EXPECT_EQ(run("GET", "/api/accounts"), "list");
    EXPECT_EQ(run("HEAD", "/api/accounts"), "list");
    EXPECT_EQ(run("PUT", "/api/accounts/ada lovelace"), "set ada lovelace");
    EXPECT_EQ(run("GET", "/api/devices/57/slots/212"), "slot 57 212");
    EXPECT_EQ(table.find("GET", "/healthz")->route->least, kAnyone);
    for (const auto& [method, path] :
         std::vector<std::pair<const char*, const char*>>{{"GET", "/api/accounts/"},
                                                          {"GET", "/api/accounts/x"},
                                                          {"GET", "/API/ACCOUNTS"},
                                                          {"GET", "/api/accounts/x/y"},
                                                          {"GET", "/api"},
                                                          {"POST", "/api/accounts"},
                                                          {"PUT", "/api/accounts/"},
                                                          {"GET", "/api/devices/5x/slots/1"},
                                                          {"GET", "/api/devices//slots/1"},
                                                          {"GET", "/healthz/"}}) {
        EXPECT_EQ(run(method, path), "none") << method << " " << path;
    }
}

TEST(RouteTable, RoutesThatOnePathWouldMatchTwiceAreRefusedWhenDeclared) {
    const auto nothing = [](HttpRequest&, HttpResponse&) {};
    const std::vector<std::vector<std::pair<const char*, const char*>>> clashes = {
        {{"GET", "/api/accounts/{name}"}, {"GET", "/api/accounts/admin"}},
        {{"GET", "/api/panels/{n}"}, {"GET", "/api/panels/{name}"}},
        {{"GET", "/api/panels/{n}"}, {"GET", "/api/panels/7"}},
        {{"GET", "/api/x"}, {"GET", "/api/x"}},
    };
    for (const auto& clash : clashes) {
        std::vector<HttpRoute> routes;
        for (const auto& [method, pattern] : clash) {
            routes.push_back({method, pattern, Role::Viewer, nothing});
        }
        EXPECT_THROW(RouteTable{routes}, std::logic_error) << clash[1].second;
    }
    // Other methods, lengths or literals never clash; {n} and a word neither.
    EXPECT_NO_THROW(RouteTable({{"GET", "/api/panels/{n}", Role::Viewer, nothing},
                                {"PUT", "/api/panels/{n}", Role::Admin, nothing},
                                {"GET", "/api/panels/{n}/x", Role::Viewer, nothing},
                                {"GET", "/api/panels/all", Role::Viewer, nothing}}));
    for (const char* malformed : {"", "api/x", "/api//x", "/api/{x}", "/api/{n}x"}) {
        EXPECT_THROW(RouteTable({{"GET", malformed, Role::Viewer, nothing}}), std::logic_error)
            << malformed;
    }
    EXPECT_THROW(RouteTable({{"HEAD", "/x", Role::Viewer, nothing}}), std::logic_error);
}

TEST(RouteTable, AHandlerThatCannotAnswerNowIsA503) {
    const RouteTable table({{"GET", "/api/wall", Role::Viewer, [](HttpRequest&, HttpResponse& r) {
                                 r.body = "half";
                                 throw std::runtime_error("the engine has stopped");
                             }}});
    HttpRequest request;
    HttpResponse response;
    RouteTable::run(*table.find("GET", "/api/wall"), request, response);
    EXPECT_EQ(response.status, 503);
    EXPECT_NE(response.body.find("the engine has stopped"), std::string::npos);
}

}  // namespace
