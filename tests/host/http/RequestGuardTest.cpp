// The request guard: the checks the HTTP server runs before any route, as
// plain functions.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "HttpStatus.h"
#include "RequestGuard.h"

namespace {

using panelhost::GuardedRequest;
using panelhost::RequestGuard;

constexpr int kAllowed = 0;
using panelhost::kForbidden;
using panelhost::kMisdirected;

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

}  // namespace
