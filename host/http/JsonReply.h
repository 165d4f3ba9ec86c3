#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <system_error>

#include "HostResult.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "HttpStatus.h"

namespace panelhost::reply {

// What every JSON route shares: reading numbers and bodies from a request
// and answering with JSON. A reader that fails has already put a 400 with
// a JSON error into the response and returns nothing; the route then just
// returns. Plain functions, safe on any thread.

// `body` as the answer, with its content type.
void sendJson(HttpResponse& response, const nlohmann::json& body);
// `text`, JSON made before (jsonText) and held by `owner`, as the answer,
// with its content type: the answer shares `owner`, which keeps `text`
// alive and unchanged until it is sent, so the text is never copied.
void sendJsonText(HttpResponse& response, std::shared_ptr<const void> owner,
                  const std::string& text);
// A JSON error {"error": message} plus the fields of `extra`, with `status`.
void sendError(HttpResponse& response, int status, const std::string& message,
               nlohmann::json extra = nlohmann::json::object());
// `body` when `result` is done, otherwise its error with the status that
// answers it (httpStatusOf).
void sendResult(HttpResponse& response, const HostResult& result, const nlohmann::json& body);

// `text` as a whole decimal number of type Number, or nothing.
template <typename Number>
std::optional<Number> toNumber(const std::string& text) {
    Number value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The first `count` numbers of the route, in the order of its capture
// groups. The routes only match digits, so only an overlong number fails.
template <std::size_t count>
std::optional<std::array<int, count>> pathNumbers(const HttpRequest& request,
                                                  HttpResponse& response) {
    std::array<int, count> numbers{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::string text = request.matches[i + 1];
        const std::optional<int> value = toNumber<int>(text);
        if (!value) {
            sendError(response, kBadRequest, "\"" + text + "\" is too large");
            return std::nullopt;
        }
        numbers[i] = *value;
    }
    return numbers;
}

// A query parameter as a number; `fallback` when absent.
std::optional<long long> queryNumber(const HttpRequest& request, const char* name,
                                     long long fallback, HttpResponse& response);

// The body as a JSON object; an empty body is an empty object.
std::optional<nlohmann::json> jsonBody(const HttpRequest& request, HttpResponse& response);

// The body as a JSON object whose `fields` are texts.
std::optional<nlohmann::json> bodyWith(const HttpRequest& request,
                                       std::initializer_list<const char*> fields,
                                       HttpResponse& response);

}  // namespace panelhost::reply
