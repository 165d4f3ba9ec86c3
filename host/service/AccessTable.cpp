#include "AccessTable.h"

#include <algorithm>
#include <cctype>

namespace panelhost {
namespace {

std::vector<std::string> segments(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string::npos ? path.size() : slash;
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool matches(const std::string& pattern, const std::string& path) {
    const std::vector<std::string> want = segments(pattern);
    const std::vector<std::string> have = segments(path);
    if (want.size() != have.size()) {
        return false;
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i] == "{n}") {
            if (have[i].empty() || !std::all_of(have[i].begin(), have[i].end(), [](char c) {
                    return std::isdigit(static_cast<unsigned char>(c)) != 0;
                })) {
                return false;
            }
        } else if (want[i] == "{name}") {
            if (have[i].empty()) {
                return false;
            }
        } else if (want[i] != have[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

const std::vector<AccessRule>& AccessTable::rules() {
    static const std::vector<AccessRule> table = {
        {"GET", "/api/panels", Role::Viewer},
        {"GET", "/api/panels/{n}", Role::Viewer},
        {"POST", "/api/panels/{n}/events", Role::Operator},
        {"POST", "/api/panels/{n}/messages", Role::Operator},
        {"GET", "/api/devices", Role::Viewer},
        {"GET", "/api/devices/{n}", Role::Viewer},
        {"GET", "/api/devices/{n}/databases/{n}", Role::Viewer},
        {"GET", "/api/devices/{n}/databases/{n}/{n}", Role::Viewer},
        {"PUT", "/api/devices/{n}/databases/{n}/{n}", Role::Engineer},
        {"GET", "/api/devices/{n}/slots", Role::Viewer},
        {"GET", "/api/devices/{n}/slots/{n}", Role::Viewer},
        {"PUT", "/api/devices/{n}/slots/{n}", Role::Engineer},
        {"GET", "/api/log", Role::Viewer},
        {"GET", "/api/history", Role::Viewer},
        {"GET", "/api/stream", Role::Viewer},
        {"GET", "/api/wall", Role::Viewer},
        {"GET", "/api/tsl", Role::Viewer},
        // Logging in and out, and the account routes.
        {"GET", "/login", std::nullopt},
        {"POST", "/api/login", std::nullopt},
        {"POST", "/api/logout", std::nullopt},
        {"GET", "/api/session", Role::Viewer},
        {"GET", "/api/accounts", Role::Admin},
        {"POST", "/api/accounts", Role::Admin},
        {"PUT", "/api/accounts/{name}", Role::Admin},
        {"DELETE", "/api/accounts/{name}", Role::Admin},
        {"GET", "/api/tokens", Role::Admin},
        {"POST", "/api/tokens", Role::Admin},
        {"DELETE", "/api/tokens/{name}", Role::Admin},
        // Service monitoring: whether the host is up answers anyone; the
        // metrics name targets and counts, so they need a viewer.
        {"GET", "/healthz", std::nullopt},
        {"GET", "/metrics", Role::Viewer},
    };
    return table;
}

const AccessRule* AccessTable::ruleFor(const std::string& method, const std::string& path) {
    // HEAD reads what GET reads.
    const std::string asked = method == "HEAD" ? "GET" : method;
    for (const AccessRule& rule : rules()) {
        if (asked == rule.method && matches(rule.path, path)) {
            return &rule;
        }
    }
    return nullptr;
}

std::optional<Role> AccessTable::leastRole(const std::string& method, const std::string& path) {
    if (const AccessRule* rule = ruleFor(method, path)) {
        return rule->least;
    }
    const std::string asked = method == "HEAD" ? "GET" : method;
    const bool reads = asked == "GET";
    if (path.rfind("/api/", 0) == 0 || path == "/api") {
        return reads ? Role::Viewer : Role::Admin;
    }
    return reads ? std::nullopt : std::optional<Role>(Role::Admin);
}

bool AccessTable::allowed(std::optional<Role> role, const std::string& method,
                          const std::string& path) {
    const std::optional<Role> least = leastRole(method, path);
    return !least || (role && reaches(*role, *least));
}

}  // namespace panelhost
