// Texts that would forge lines of the host's log, sent to the real program:
// a name, title or slot holding a line break, a NUL or a terminal escape is
// refused wherever it comes in (a PUT, a CSV import, a copy of a set a host
// before stored it in), nothing of it is stored, and a host message that
// holds them reaches the console, in either of its forms, as one line with
// them escaped.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "DeviceCatalog.h"
#include "HostProcess.h"
#include "LoopbackClient.h"
#include "NameSeed.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

namespace {

using nlohmann::json;
using namespace std::string_literals;

// The line an attacker wants the console to show as the host's own.
constexpr const char* kForgery = "\nhost info: admin logged in from 10.6.6.6";
constexpr const char* kForgedPart = "admin logged in from 10.6.6.6";
constexpr const char* kNames = "/api/devices/12/databases/5";
// The set a host before this one stored a line break in, at source 17.
constexpr int kOldSet = 6;
constexpr const char* kOldName = "Old\nLabel";

// A PUT that must be refused, and what its error must say.
struct Refused {
    std::string path;
    std::string text;
    std::string error;
};

class ForgedLines : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(data());
        const panelhost::DeviceCatalog catalog = panelhost::DeviceCatalog::defaults();
        panelhost::SqliteNameStore(data() / "panelhost.db",
                                   panelhost::NameSeed::forCatalog(catalog))
            .writeName({"StC_UMD_Names_DriverID", 12, kOldSet, 17, kOldName, "an older host"});
        HostProcess::Setup setup(data());
        setup.arguments = {"--verbose", "--log-format", GetParam()};
        host_ = std::make_unique<HostProcess>(setup, folder_.path() / "console.txt");
        ASSERT_TRUE(host_->waitUntilServing()) << host_->output();
        client_ = std::make_unique<LoopbackClient>(*host_);
    }

    std::filesystem::path data() const { return folder_.path() / "data"; }

    // A request's status, its error ("" for none) and its whole answer.
    struct Answer {
        int status = 0;
        std::string error;
        json body;
    };

    Answer send(const std::string& method, const std::string& path, const json& body) {
        const auto result = method == "PUT"
                                ? client_->http().Put(path, body.dump(), "application/json")
                                : client_->http().Post(path, body.dump(), "application/json");
        EXPECT_TRUE(result) << method << " " << path;
        Answer answer;
        if (result) {
            answer.status = result->status;
            answer.body = json::parse(result->body, nullptr, false);
            const auto error = answer.body.find("error");
            if (error != answer.body.end() && error->is_string()) {
                answer.error = error->get<std::string>();
            }
        }
        return answer;
    }

    json get(const std::string& path) {
        const auto result = client_->http().Get(path);
        EXPECT_TRUE(result && result->status == 200) << path;
        return result ? json::parse(result->body, nullptr, false) : json();
    }

    TempFolder folder_;
    std::unique_ptr<HostProcess> host_;
    std::unique_ptr<LoopbackClient> client_;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

}  // namespace

TEST_P(ForgedLines, ControlCharactersAreNeverStoredAndEveryLogLineStaysOneLine) {
    const json namesBefore = get(kNames);
    const Refused refusals[] = {
        {"/api/devices/12/databases/5/17", "Cam 5"s + kForgery,
         "the name of source 17 holds a control character (\\n) at character 6"},
        {"/api/devices/12/databases/5/18", "Cam\0 6"s,
         "the name of source 18 holds a control character (\\x00) at character 4"},
        {"/api/devices/12/databases/5/19", "S\xC3\xBC\x64\x1B[2J",
         "the name of source 19 holds a control character (\\x1b) at character 4"},
        {"/api/devices/12/databases/9/5", "Late\tNews",
         "the title of name set 5 holds a control character (\\t) at character 5"},
        {"/api/devices/57/slots/212", "2\x7F",
         "slot 212 holds a control character (\\x7f) at character 2"},
    };
    for (const Refused& refused : refusals) {
        const std::string before = get(refused.path)["text"];
        const Answer answer = send("PUT", refused.path, {{"text", refused.text}});
        EXPECT_EQ(answer.status, 400) << refused.path << ": " << answer.body.dump();
        EXPECT_EQ(answer.error, refused.error) << refused.path;
        EXPECT_EQ(get(refused.path)["text"], before) << refused.path;
    }

    // An import is all or nothing: the good line is not written either.
    const Answer imported =
        send("POST", std::string(kNames) + "/import",
             {{"csv", "source,name\n1,Anchor\n17,Cam\t5\n"}, {"file", "news.csv"}});
    EXPECT_EQ(imported.status, 400) << imported.body.dump();
    EXPECT_NE(imported.error.find(
                  "line 3: the name of source 17 holds a control character (\\t) at character 4"),
              std::string::npos)
        << imported.error;

    // A copy of a set that holds such a name is refused, and its preview
    // says which name.
    const json from = {{"from", {{"device", 12}, {"database", kOldSet}}}};
    const Answer preview = send("POST", std::string(kNames) + "/copy/preview", from);
    EXPECT_EQ(preview.status, 200);
    EXPECT_EQ(preview.body["lines"][16]["status"], "wrong") << preview.body["lines"][16].dump();
    EXPECT_EQ(preview.body["counts"]["wrong"], 1);
    const Answer copied = send("POST", std::string(kNames) + "/copy", from);
    EXPECT_EQ(copied.status, 400) << copied.body.dump();
    EXPECT_NE(
        copied.error.find("the name of source 17 holds a control character (\\n) at character 4"),
        std::string::npos)
        << copied.error;

    EXPECT_EQ(get(kNames), namesBefore);
    const json history = get("/api/history")["entries"];
    ASSERT_EQ(history.size(), 1u) << history.dump();
    EXPECT_EQ(history[0]["who"], "an older host");

    // An operator's host message is passed on as it is, and logged.
    const Answer message =
        send("POST", "/api/panels/1/messages", {{"text", "myParam=x"s + kForgery + "\0\x1B[2J"s}});
    EXPECT_EQ(message.status, 200) << message.body.dump();
    ASSERT_EQ(host_->stop(), 0);

    const std::string console = host_->output();
    for (const char control : {'\0', '\r', '\x1B', '\x7F'}) {
        EXPECT_EQ(console.find(control), std::string::npos) << static_cast<int>(control) << " in\n"
                                                            << console;
    }
    const std::vector<std::string> all = lines(console);
    const auto forged = std::count_if(all.begin(), all.end(), [](const std::string& line) {
        return line.find(kForgedPart) != std::string::npos;
    });
    const auto escaped = std::count_if(all.begin(), all.end(), [](const std::string& line) {
        return line.find(
                   "message: 'myParam=x\\nhost info: admin logged in from "
                   "10.6.6.6\\x00\\x1b[2J'") != std::string::npos;
    });
    EXPECT_EQ(forged, 1) << console;
    EXPECT_EQ(escaped, 1) << console;
}

INSTANTIATE_TEST_SUITE_P(ConsoleForms, ForgedLines, ::testing::Values("plain", "journal"));
