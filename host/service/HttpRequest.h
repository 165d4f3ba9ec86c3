#pragma once

#include <string>
#include <utility>
#include <vector>

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

    bool hasParam(const std::string& name) const {
        for (const auto& [key, value] : params) {
            if (key == name) {
                return true;
            }
        }
        return false;
    }

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
