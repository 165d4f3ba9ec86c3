#pragma once

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Role.h"

namespace panelhost {

// One HTTP request as the server read it, for the routes to answer. Plain
// data: the server fills it on an I/O thread and hands it to one worker
// thread at a time.
struct HttpRequest {
    using Fields = std::vector<std::pair<std::string, std::string>>;

    // As sent: "GET", "PUT", ...
    std::string method;
    // The path without its query, percent-decoded.
    std::string path;
    // The query parameters in their order, percent-decoded ('+' is a space).
    Fields params;
    // The header fields in their order, names as sent.
    Fields headers;
    std::string body;
    // The client's address, e.g. "127.0.0.1".
    std::string remoteAddr;
    // The capture groups of the route that matched, [0] the whole path.
    std::vector<std::string> matches;
    // Who sent it, as the access check established: an account's or a
    // token's name; empty for a client that is not logged in.
    std::string user;
    // Whether `user` is an API token rather than an account.
    bool byToken = false;
    // The role `user` holds; nothing for a client that is not logged in.
    std::optional<Role> role;

    bool hasParam(const std::string& name) const {
        for (const auto& [key, value] : params) {
            if (key == name) {
                return true;
            }
        }
        return false;
    }

    // The first header field called `name` (in any case); nothing when
    // absent.
    std::optional<std::string> header(const std::string& name) const {
        for (const auto& [key, value] : headers) {
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                return value;
            }
        }
        return std::nullopt;
    }

    // For the history and the log: the account, or "token NAME", and the
    // client's address.
    std::string who() const { return (byToken ? "token " + user : user) + " (" + remoteAddr + ")"; }

    // The first value of the query parameter `name`; empty when absent.
    std::string param(const std::string& name) const {
        for (const auto& [key, value] : params) {
            if (key == name) {
                return value;
            }
        }
        return "";
    }
};

}  // namespace panelhost
