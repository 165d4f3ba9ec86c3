#include "NameSetClient.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "HttpStatus.h"

namespace panelhost {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using nlohmann::json;

constexpr int kFailure = 1;
constexpr int kInvalidInput = 2;
constexpr int kHttp11 = 11;
// How the history records a write from these commands, with the address.
constexpr const char* kScheme = "http://";

std::string errorOf(const std::string& body) {
    const json answer = json::parse(body, nullptr, false);
    return answer.is_object() && answer.contains("error") && answer["error"].is_string()
               ? answer["error"].get<std::string>()
               : body;
}

}  // namespace

std::filesystem::path NameSetClient::addressFile(const std::filesystem::path& dataFolder) {
    return dataFolder / "panelhost.url";
}

NameSetClient::NameSetClient(std::string url, std::string token) : token_(std::move(token)) {
    std::string rest = url.rfind(kScheme, 0) == 0 ? url.substr(std::string(kScheme).size()) : url;
    rest = rest.substr(0, rest.find('/'));
    const auto colon = rest.rfind(':');
    host_ = colon == std::string::npos ? rest : rest.substr(0, colon);
    port_ = colon == std::string::npos ? "80" : rest.substr(colon + 1);
    if (host_.size() >= 2 && host_.front() == '[' && host_.back() == ']') {
        host_ = host_.substr(1, host_.size() - 2);
    }
    // A host serving on every address is reached on this machine's own.
    if (host_ == "0.0.0.0") {
        host_ = "127.0.0.1";
    } else if (host_ == "::" || host_ == "::0") {
        host_ = "::1";
    }
}

NameSetClient::Answer NameSetClient::request(const std::string& method, const std::string& target,
                                             const std::string& body) const {
    asio::io_context io;
    asio::ip::tcp::resolver resolver(io);
    beast::tcp_stream stream(io);
    beast::error_code error;
    const auto endpoints = resolver.resolve(host_, port_, error);
    if (!error) {
        stream.connect(endpoints, error);
    }
    if (error) {
        throw std::runtime_error("the panelhost at " + host_ + ":" + port_ +
                                 " cannot be reached: " + error.message());
    }
    http::request<http::string_body> outgoing(http::string_to_verb(method), target, kHttp11);
    const bool v6 = host_.find(':') != std::string::npos;
    outgoing.set(http::field::host, (v6 ? "[" + host_ + "]" : host_) + ":" + port_);
    if (!token_.empty()) {
        outgoing.set(http::field::authorization, "Bearer " + token_);
    }
    if (!body.empty()) {
        outgoing.set(http::field::content_type, "application/json");
        outgoing.body() = body;
    }
    outgoing.prepare_payload();
    beast::flat_buffer buffer;
    http::response<http::string_body> incoming;
    http::write(stream, outgoing, error);
    if (!error) {
        http::read(stream, buffer, incoming, error);
    }
    if (error) {
        throw std::runtime_error("the panelhost at " + host_ + ":" + port_ +
                                 " did not answer: " + error.message());
    }
    beast::error_code ignored;
    stream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    return Answer{static_cast<int>(incoming.result_int()), incoming.body()};
}

std::optional<int> NameSetClient::deviceNumber(const std::string& device, std::ostream& err) const {
    const Answer answer = request("GET", "/api/devices", "");
    const json devices = json::parse(answer.body, nullptr, false);
    if (answer.status != kOk || !devices.is_object() || !devices.contains("devices")) {
        err << "panelhost: the running panelhost refused the device list: " << errorOf(answer.body);
        if (answer.status == kUnauthorized) {
            err << " (give an API token with --token or $PANELHOST_TOKEN; panelhost token create "
                   "--role engineer makes one)";
        }
        err << "\n";
        return std::nullopt;
    }
    for (const json& entry : devices["devices"]) {
        if (entry.value("name", "") == device) {
            return entry.value("number", 0);
        }
    }
    err << "panelhost: there is no device called \"" << device << "\"\n";
    return std::nullopt;
}

int NameSetClient::exportSet(const std::string& device, int set,
                             const std::filesystem::path& output, std::ostream& out,
                             std::ostream& err) const {
    try {
        const std::optional<int> number = deviceNumber(device, err);
        if (!number) {
            return kFailure;
        }
        const Answer answer = request("GET",
                                      "/api/devices/" + std::to_string(*number) + "/databases/" +
                                          std::to_string(set) + "/csv",
                                      "");
        if (answer.status != kOk) {
            err << "panelhost: " << errorOf(answer.body) << "\n";
            return kFailure;
        }
        if (output == "-") {
            out << answer.body;
            return out ? 0 : kFailure;
        }
        std::ofstream file(output, std::ios::binary);
        file << answer.body;
        if (!file) {
            err << "panelhost: " << output.string() << " cannot be written\n";
            return kFailure;
        }
        return 0;
    } catch (const std::runtime_error& error) {
        err << "panelhost: " << error.what() << "\n";
        return kFailure;
    }
}

int NameSetClient::importSet(const std::string& device, int set, const std::filesystem::path& input,
                             std::ostream& out, std::ostream& err) const {
    std::ifstream file(input, std::ios::binary);
    std::ostringstream csv;
    csv << file.rdbuf();
    if (!file) {
        err << "panelhost: " << input.string() << " cannot be read\n";
        return kFailure;
    }
    try {
        const std::optional<int> number = deviceNumber(device, err);
        if (!number) {
            return kFailure;
        }
        const json body{{"csv", csv.str()}, {"file", input.filename().string()}};
        const Answer answer = request("POST",
                                      "/api/devices/" + std::to_string(*number) + "/databases/" +
                                          std::to_string(set) + "/import",
                                      body.dump());
        const json result = json::parse(answer.body, nullptr, false);
        if (result.is_object() && result.contains("lines")) {
            for (const json& line : result["lines"]) {
                out << input.string() << ": line " << line.value("line", 0) << ": "
                    << (line.value("status", "") == "wrong"
                            ? line.value("reason", "")
                            : "source " + std::to_string(line.value("source", 0)) + " \"" +
                                  line.value("new", "") + "\" (" + line.value("status", "") + ")")
                    << "\n";
            }
        }
        if (answer.status == kBadRequest && result.is_object() && result.contains("lines")) {
            err << "panelhost: " << input.string() << " has invalid lines; nothing was written\n";
            return kInvalidInput;
        }
        if (answer.status != kOk) {
            err << "panelhost: " << errorOf(answer.body) << "\n";
            return kFailure;
        }
        const json& counts = result["counts"];
        out << "panelhost: " << counts.value("new", 0) + counts.value("changed", 0)
            << " names written to name set " << set << " of \"" << device
            << "\" through the running panelhost\n";
        return 0;
    } catch (const std::runtime_error& error) {
        err << "panelhost: " << error.what() << "\n";
        return kFailure;
    }
}

}  // namespace panelhost
