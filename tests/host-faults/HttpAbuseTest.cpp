// The HTTP API of a running panelhost under hostile requests: malformed
// JSON, huge bodies, unknown paths and methods, static-file paths that try
// to leave the web folder, two Host fields, plain HTTP on the HTTPS port,
// and pages that would frame the host's. Every request gets a 4xx answer,
// nothing changes, nothing outside the web folder is served, every answer
// forbids framing and foreign content, and the host goes on serving.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "LoopbackClient.h"
#include "TempFolder.h"
#include "TestCertificate.h"

namespace {

using nlohmann::json;

constexpr const char* kName = "/api/devices/12/databases/5/37";
constexpr const char* kSlot = "/api/devices/57/slots/212";
// Every route that takes a body, with a body it accepts.
const std::pair<const char*, const char*> kBodyRoutes[] = {
    {"PUT", kName},
    {"PUT", kSlot},
    {"POST", "/api/panels/1/events"},
    {"POST", "/api/panels/1/messages"},
};
// Well past the host's limit on bodies.
constexpr std::size_t kHugeBody = 16 * 1024 * 1024;
// A marker that only the files outside the web folder hold.
constexpr const char* kSecret = "SECRET-OUTSIDE-THE-WEB-FOLDER";

class HttpAbuse : public ::testing::Test {
  protected:
    void start(const std::filesystem::path& web = {},
               const std::vector<std::string>& arguments = {}) {
        HostProcess::Setup setup(folder_.path() / "data");
        setup.web = web;
        setup.arguments = arguments;
        host_ = std::make_unique<HostProcess>(setup, folder_.path() / "host.log");
        ASSERT_TRUE(host_->waitUntilServing()) << host_->output();
        client_ = std::make_unique<LoopbackClient>(*host_);
    }

    // The header fields every raw request carries: the host's own name and
    // the token, so that only what a test sends on purpose is wrong.
    std::string ownHeaders() const {
        return "Host: 127.0.0.1:" + std::to_string(host_->port()) + "\r\nAuthorization: Bearer " +
               host_->token() + "\r\n";
    }

    httplib::Result send(const std::string& method, const std::string& path,
                         const std::string& body) {
        return method == "PUT" ? client_->http().Put(path, body, "application/json")
                               : client_->http().Post(path, body, "application/json");
    }

    std::string text(const std::string& path) {
        const auto result = client_->http().Get(path);
        return result && result->status == 200
                   ? json::parse(result->body)["text"].get<std::string>()
                   : "<unreadable>";
    }

    // The host still serves: the panels and an entry can be read.
    void expectServing() {
        const auto panels = client_->http().Get("/api/panels/1");
        ASSERT_TRUE(panels);
        EXPECT_EQ(panels->status, 200);
        EXPECT_EQ(text(kName), "Line In 1");
        EXPECT_EQ(text(kSlot), "1");
    }

    static void expectJsonError(const httplib::Result& result, int status,
                                const std::string& what) {
        ASSERT_TRUE(result) << what;
        EXPECT_EQ(result->status, status) << what << ": " << result->body;
        const json body = json::parse(result->body, nullptr, false);
        EXPECT_TRUE(body.is_object() && body.contains("error")) << what << ": " << result->body;
    }

    TempFolder folder_;
    std::unique_ptr<HostProcess> host_;
    std::unique_ptr<LoopbackClient> client_;
};

std::string statusLine(const std::string& reply) {
    return reply.substr(0, reply.find("\r\n"));
}

// The value of the header field `name` in the head of `reply`; nothing when
// it has none.
std::optional<std::string> field(const std::string& reply, std::string name) {
    std::string head = reply.substr(0, reply.find("\r\n\r\n"));
    const auto lower = [](std::string& text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    lower(head);
    lower(name);
    const std::size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t value = at + name.size() + 4;
    return reply.substr(value, std::min(head.find("\r\n", value), head.size()) - value);
}

// Whether an answer carries what keeps it out of other pages' frames and
// keeps the page's content the host's own; `tls`: also that the browser is
// to come back over HTTPS only.
void expectHardened(const std::string& reply, bool tls, const std::string& what) {
    const auto policy = field(reply, "Content-Security-Policy");
    ASSERT_TRUE(policy) << what << ":\n" << reply.substr(0, reply.find("\r\n\r\n"));
    for (const char* directive : {"default-src 'self'", "frame-ancestors 'none'",
                                  "object-src 'none'", "base-uri 'none'", "form-action 'self'"}) {
        EXPECT_NE(policy->find(directive), std::string::npos) << what << ": " << *policy;
    }
    EXPECT_EQ(policy->find("unsafe-"), std::string::npos) << what << ": " << *policy;
    EXPECT_EQ(field(reply, "X-Frame-Options"), "DENY") << what;
    EXPECT_EQ(field(reply, "X-Content-Type-Options"), "nosniff") << what;
    EXPECT_EQ(field(reply, "Referrer-Policy"), "no-referrer") << what;
    EXPECT_EQ(field(reply, "Strict-Transport-Security"),
              tls ? std::optional<std::string>("max-age=31536000") : std::nullopt)
        << what;
}

}  // namespace

TEST_F(HttpAbuse, MalformedBodiesAreRefusedAndChangeNothing) {
    start();
    const std::string deep = std::string(20000, '[') + std::string(20000, ']');
    const std::string bodies[] = {"",
                                  "{",
                                  "}",
                                  "[]",
                                  "null",
                                  "42",
                                  "\"text\"",
                                  R"({"text": 5})",
                                  R"({"text": null})",
                                  R"({"text": "x")",
                                  R"({"text": "x"} trailing)",
                                  R"({"text": "\ud800"})",
                                  "{\"text\": \"\xff\xfe\"}",
                                  R"({"panel": ["1"], "control": {}, "event": 1})",
                                  deep};
    for (const auto& [method, path] : kBodyRoutes) {
        for (const std::string& body : bodies) {
            expectJsonError(send(method, path, body), 400,
                            std::string(method) + " " + path + " " + body.substr(0, 40));
        }
    }
    expectServing();
    const auto written = send("PUT", kName, R"({"text": "Still Works"})");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status, 200);
    EXPECT_EQ(text(kName), "Still Works");
}

TEST_F(HttpAbuse, HugeBodiesAreRefusedUnread) {
    start();
    const std::string huge = R"({"text": ")" + std::string(kHugeBody, 'x') + "\"}";
    for (const auto& [method, path] : kBodyRoutes) {
        expectJsonError(send(method, path, huge), 413, path);
    }
    // A length announced but never sent, and a body in chunks.
    const std::string announced = LoopbackClient::exchange(
        host_->port(), std::string("PUT ") + kName + " HTTP/1.1\r\n" + ownHeaders() +
                           "Connection: close\r\n"
                           "Content-Type: application/json\r\n"
                           "Content-Length: 100000000000\r\n\r\n{\"text\": \"");
    EXPECT_EQ(statusLine(announced), "HTTP/1.1 413 Payload Too Large") << announced;
    const std::string chunked = LoopbackClient::exchange(
        host_->port(), std::string("PUT ") + kName + " HTTP/1.1\r\n" + ownHeaders() +
                           "Connection: close\r\n"
                           "Content-Type: application/json\r\n"
                           "Transfer-Encoding: chunked\r\n\r\n10\r\n{\"text\": \"xxxxxx\r\n");
    EXPECT_EQ(statusLine(chunked), "HTTP/1.1 411 Length Required") << chunked;
    EXPECT_NE(chunked.find("not in chunks"), std::string::npos) << chunked;
    expectServing();
}

TEST_F(HttpAbuse, UnknownPathsAndMethodsAreNotFound) {
    start();
    for (const char* path :
         {"/api/nothing", "/api/devices/12/databases/5/37/more", "/api/devices/12/databases/x",
          "/api/devices/-1", "/api/panels/1/events/2"}) {
        expectJsonError(client_->http().Get(path), 404, path);
    }
    expectJsonError(client_->http().Get("/api/devices/99999999999999999999"), 400,
                    "a number too large");
    expectJsonError(client_->http().Delete(kName, "", "application/json"), 404, "DELETE");
    expectJsonError(client_->http().Post("/api/devices", "{}", "application/json"), 404, "POST");
    expectJsonError(client_->http().Patch(kName, R"({"text": "x"})", "application/json"), 404,
                    "PATCH");
    const auto missing = client_->http().Get("/no/such/file.html");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    const std::string longPath = "/api/" + std::string(100000, 'a');
    const std::string tooLong =
        LoopbackClient::exchange(host_->port(), "GET " + longPath + " HTTP/1.1\r\n" + ownHeaders() +
                                                    "Connection: close\r\n\r\n");
    EXPECT_EQ(statusLine(tooLong).substr(0, 10), "HTTP/1.1 4") << statusLine(tooLong);
    const std::string garbage = LoopbackClient::exchange(
        host_->port(), std::string("\x16\x03\x01\x02\x00\x01\x00\r\n\r\n", 11));
    EXPECT_EQ(garbage.find("200 OK"), std::string::npos) << garbage;
    expectServing();
}

TEST_F(HttpAbuse, StaticFilesNeverComeFromOutsideTheWebFolder) {
    const std::filesystem::path web = folder_.path() / "web";
    std::filesystem::create_directories(web / "sub");
    std::ofstream(web / "index.html") << "<html>the front end</html>\n";
    std::ofstream(folder_.path() / "outside.txt") << kSecret << "\n";
    std::filesystem::create_directory_symlink(folder_.path(), web / "up");
    std::filesystem::create_symlink("../outside.txt", web / "leak.txt");
    std::filesystem::create_symlink(folder_.path() / "outside.txt", web / "sub" / "absolute.txt");
    std::filesystem::create_symlink("index.html", web / "alias.html");
    start(web);

    const std::string outside = (folder_.path() / "outside.txt").string();
    const std::string escapes[] = {"/../outside.txt",
                                   "/sub/../../outside.txt",
                                   "/%2e%2e/outside.txt",
                                   "/%2E%2E%2Foutside.txt",
                                   "/..%2foutside.txt",
                                   "/.%2e/outside.txt",
                                   "/..\\outside.txt",
                                   "/%00/../outside.txt",
                                   "/" + outside,
                                   "//" + outside,
                                   "http://127.0.0.1/../outside.txt",
                                   "/leak.txt",
                                   "/up/outside.txt",
                                   "/up/web/../outside.txt",
                                   "/sub/absolute.txt",
                                   "/up/",
                                   "/sub/../index.html"};
    for (const std::string& path : escapes) {
        const std::string reply =
            LoopbackClient::exchange(host_->port(), "GET " + path + " HTTP/1.1\r\n" + ownHeaders() +
                                                        "Connection: close\r\n\r\n");
        EXPECT_FALSE(reply.empty()) << path;
        EXPECT_EQ(reply.find(kSecret), std::string::npos) << path;
        EXPECT_NE(statusLine(reply), "HTTP/1.1 200 OK") << path;
    }
    for (const char* inside : {"/", "/index.html", "/alias.html"}) {
        const auto page = client_->http().Get(inside);
        ASSERT_TRUE(page) << inside;
        EXPECT_EQ(page->status, 200) << inside;
        EXPECT_NE(page->body.find("the front end"), std::string::npos) << inside;
    }
    expectServing();
}

TEST_F(HttpAbuse, EveryAnswerForbidsFramingAndForeignContent) {
    start();
    const std::string own = ownHeaders() + "Connection: close\r\n";
    const std::string anonymous =
        "Host: 127.0.0.1:" + std::to_string(host_->port()) + "\r\nConnection: close\r\n";
    const std::pair<std::string, std::string> answers[] = {
        {"GET / HTTP/1.1\r\n" + anonymous + "\r\n", "200"},
        {"GET /js/main.js HTTP/1.1\r\n" + anonymous + "\r\n", "200"},
        {"GET /login HTTP/1.1\r\n" + anonymous + "\r\n", "200"},
        {"HEAD /style.css HTTP/1.1\r\n" + anonymous + "\r\n", "200"},
        {"GET /healthz HTTP/1.1\r\n" + anonymous + "\r\n", "200"},
        {"GET /api/panels HTTP/1.1\r\n" + own + "\r\n", "200"},
        {"GET /api/stream HTTP/1.1\r\n" + own + "\r\n", "200"},
        {"GET /no/such/file.html HTTP/1.1\r\n" + anonymous + "\r\n", "404"},
        {"GET /api/nothing HTTP/1.1\r\n" + own + "\r\n", "404"},
        {"GET /api/panels HTTP/1.1\r\n" + anonymous + "\r\n", "401"},
        {"GET / HTTP/1.1\r\nHost: evil.example\r\nConnection: close\r\n\r\n", "421"},
        {std::string("PUT ") + kName + " HTTP/1.1\r\n" + own +
             "Content-Type: application/json\r\nContent-Length: 100000000\r\n\r\n",
         "413"},
        {"GET /api/panels HTTP/1.1\r\n" + own + "X-Long: " + std::string(20000, 'x') + "\r\n\r\n",
         "431"},
        {"GET /api/panels HTTP/1.1\r\n" + own + "Bad Header\r\n\r\n", "400"},
    };
    for (const auto& [request, status] : answers) {
        const std::string reply = LoopbackClient::exchange(host_->port(), request);
        const std::string what = request.substr(0, request.find("\r\n")) + " (" + status + ")";
        EXPECT_EQ(statusLine(reply).substr(9, 3), status) << what << ": " << statusLine(reply);
        expectHardened(reply, false, what);
    }
}

TEST_F(HttpAbuse, TwoHostFieldsAreRefusedBeforeAnyRoute) {
    start();
    const std::string own = "Host: 127.0.0.1:" + std::to_string(host_->port()) + "\r\n";
    const std::string rest = "Authorization: Bearer " + host_->token() +
                             "\r\nContent-Type: application/json\r\nContent-Length: 17\r\n"
                             "Connection: close\r\n\r\n{\"text\": \"Wrong\"}";
    // The host's own name first and a foreign one after, and the other way
    // round: neither may be taken for where the request is addressed.
    for (const std::string& hosts :
         {own + "host: evil.example\r\n", "Host: evil.example\r\n" + own, own + own}) {
        const std::string reply = LoopbackClient::exchange(
            host_->port(), std::string("PUT ") + kName + " HTTP/1.1\r\n" + hosts + rest);
        EXPECT_EQ(statusLine(reply), "HTTP/1.1 400 Bad Request") << hosts << reply;
        const json body = json::parse(reply.substr(reply.find("\r\n\r\n") + 4), nullptr, false);
        EXPECT_TRUE(body.is_object() && body.contains("error")) << reply;
    }
    const std::string page = LoopbackClient::exchange(
        host_->port(), "GET / HTTP/1.1\r\n" + own + own + "Connection: close\r\n\r\n");
    EXPECT_EQ(statusLine(page), "HTTP/1.1 400 Bad Request") << page;
    expectServing();
}

TEST_F(HttpAbuse, TheHttpsPortAnswersPlainHttpAndKeepsBrowsersOnHttps) {
    const TestCertificate certificate(folder_.path());
    start({},
          {"--tls-cert", certificate.certificate.string(), "--tls-key", certificate.key.string()});
    const std::string own = "Host: 127.0.0.1:" + std::to_string(host_->port()) + "\r\n";
    const std::string plain = LoopbackClient::exchange(
        host_->port(), "GET /api/panels HTTP/1.1\r\n" + own + "Connection: close\r\n\r\n");
    EXPECT_EQ(statusLine(plain), "HTTP/1.1 400 Bad Request") << plain;
    EXPECT_NE(plain.find("HTTPS"), std::string::npos) << plain;
    expectHardened(plain, false, "plain HTTP on the HTTPS port");

    // Over TLS every kind of answer says to stay on HTTPS.
    httplib::SSLClient client("127.0.0.1", host_->port());
    client.set_ca_cert_path(certificate.certificate.string());
    client.set_connection_timeout(LoopbackClient::kRequestTimeout, 0);
    client.set_read_timeout(LoopbackClient::kRequestTimeout, 0);
    for (const auto& [path, status] : {std::pair<const char*, int>{"/login", 200},
                                       {"/api/panels", 401},
                                       {"/no/such/file.html", 404}}) {
        const auto answer = client.Get(path);
        ASSERT_TRUE(answer) << path << ": " << httplib::to_string(answer.error());
        EXPECT_EQ(answer->status, status) << path;
        std::string head = "HTTP/1.1 " + std::to_string(answer->status) + " x";
        for (const auto& [name, value] : answer->headers) {
            head += "\r\n" + name + ": " + value;
        }
        expectHardened(head + "\r\n\r\n", true, path);
    }
}
