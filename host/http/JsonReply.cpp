#include "JsonReply.h"

#include "JsonText.h"

namespace panelhost::reply {

using nlohmann::json;

void sendJson(HttpResponse& response, const json& body) {
    response.contentType = "application/json";
    response.body = jsonText(body);
}

void sendJsonText(HttpResponse& response, std::shared_ptr<const void> owner,
                  const std::string& text) {
    response.contentType = "application/json";
    response.sharedBody = std::shared_ptr<const std::string>(std::move(owner), &text);
}

void sendError(HttpResponse& response, int status, const std::string& message, json extra) {
    extra["error"] = message;
    response.status = status;
    sendJson(response, extra);
}

void sendResult(HttpResponse& response, const HostResult& result, const json& body) {
    if (result.ok()) {
        sendJson(response, body);
    } else {
        sendError(response, httpStatusOf(result), result.error);
    }
}

std::optional<long long> queryNumber(const HttpRequest& request, const char* name,
                                     long long fallback, HttpResponse& response) {
    if (!request.hasParam(name)) {
        return fallback;
    }
    const std::optional<long long> value = toNumber<long long>(request.param(name));
    if (!value) {
        sendError(response, kBadRequest, std::string("parameter ") + name + " must be a number");
    }
    return value;
}

std::optional<json> jsonBody(const HttpRequest& request, HttpResponse& response) {
    json body =
        json::parse(request.body.empty() ? std::string("{}") : request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        sendError(response, kBadRequest, "the body must be a JSON object");
        return std::nullopt;
    }
    return body;
}

std::optional<json> bodyWith(const HttpRequest& request, std::initializer_list<const char*> fields,
                             HttpResponse& response) {
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        sendError(response, kBadRequest, "the body must be a JSON object");
        return std::nullopt;
    }
    for (const char* field : fields) {
        if (!body.contains(field) || !body[field].is_string()) {
            sendError(response, kBadRequest,
                      std::string("the body needs the text field \"") + field + "\"");
            return std::nullopt;
        }
    }
    return body;
}

}  // namespace panelhost::reply
