// The real name-set panel plugin in a running host, driven through the
// HTTP API on a loopback port the system chooses.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "RunningHost.h"
#include "SqliteReadFault.h"
#include "TempFolder.h"

using namespace panelhost;
using nlohmann::json;

namespace {

// Opens the editor on `instance` with name set `set` and source `source`.
void openSource(RunningHost& host, int instance, int set, int source) {
    host.act(instance, "1", "Name_Editor", "button=pressed");
    host.act(instance, "2", "NameSet_" + std::to_string(set), "button=pressed");
    host.act(instance, "2", "SrcGroup", "select=" + std::to_string((source - 1) / 16 + 1));
    host.act(instance, "2", "SrcName", "select=" + std::to_string(source));
}

// A raw client of the event stream on its own connection, so that a test
// can hold many open and close one abruptly.
class RawStream {
  public:
    // Longer than anything on loopback takes: only a guard against a hang.
    static constexpr int kPatienceSeconds = 10;

    RawStream(int port, const std::string& token) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval patience{kPatienceSeconds, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        const std::string request =
            "GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
            "\r\nAuthorization: Bearer " + token + "\r\n\r\n";
        if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
        }
    }
    ~RawStream() { close(fd_); }

    RawStream(const RawStream&) = delete;
    RawStream& operator=(const RawStream&) = delete;

    // Reads until `text` has arrived; false when the connection ends or
    // stays silent for the patience first.
    bool readUntil(const std::string& text) {
        std::array<char, 4096> chunk{};
        while (received_.find(text) == std::string::npos) {
            const ssize_t count = recv(fd_, chunk.data(), chunk.size(), 0);
            if (count <= 0) {
                return false;
            }
            received_.append(chunk.data(), static_cast<std::size_t>(count));
        }
        return true;
    }

    const std::string& received() const { return received_; }

  private:
    int fd_;
    std::string received_;
};

// A metrics page read back: each sample's value by its series (name and
// labels as written). Fails the test for a line that is not a HELP, a TYPE
// or a sample, and for a sample whose family was not announced before it.
std::map<std::string, double> readMetrics(const std::string& page) {
    const std::regex sampleLine(R"re(^([a-z_]+)(\{([a-z]+="([^"\\]|\\.)*",?)*\})? (\S+)$)re");
    const std::regex typeLine(R"(^# TYPE ([a-z_]+) (counter|gauge|histogram)$)");
    std::map<std::string, double> samples;
    std::string family;
    std::istringstream lines(page);
    for (std::string line; std::getline(lines, line);) {
        std::smatch found;
        if (std::regex_match(line, found, typeLine)) {
            family = found[1];
        } else if (std::regex_match(line, found, sampleLine)) {
            EXPECT_EQ(found[1].str().rfind(family, 0), 0U) << line;
            samples[line.substr(0, line.rfind(' '))] = std::stod(found[5]);
        } else {
            EXPECT_EQ(line.rfind("# HELP ", 0), 0U) << line;
        }
    }
    return samples;
}

}  // namespace

TEST(EndToEnd, MetricsCountWhatTheHostDidAndHealthSaysReady) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    const auto [healthStatus, health] = host.get("/healthz");
    EXPECT_EQ(healthStatus, 200);
    EXPECT_EQ(health, (json{{"status", "up"}, {"ready", true}}));
    auto before = readMetrics(host.text("/metrics"));

    host.act(1, "1", "Select_3", "button=pressed");
    host.act(1, "1", "Confirm", "button=pressed");
    EXPECT_EQ(host.send("PUT", "/api/devices/12/databases/5/37", R"({"text": "Desk"})").first, 200);
    EXPECT_EQ(host.get("/api/panels/7").first, 404);
    // Requests from several clients at once are all counted.
    constexpr int kClients = 4;
    constexpr int kEach = 25;
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&host] {
            httplib::Client client("127.0.0.1", host.port());
            for (int n = 0; n < kEach; ++n) {
                client.Get("/healthz");
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }

    auto after = readMetrics(host.text("/metrics"));
    const auto moved = [&](const std::string& series) { return after[series] - before[series]; };
    const std::string events =
        R"(panelhost_http_requests_total{method="POST",route="/api/panels/{n}/events",status="200"})";
    EXPECT_EQ(moved(events), 2);
    EXPECT_EQ(
        moved(
            R"(panelhost_http_requests_total{method="PUT",route="/api/devices/{n}/databases/{n}/{n}",status="200"})"),
        1);
    EXPECT_EQ(
        moved(
            R"(panelhost_http_requests_total{method="GET",route="/api/panels/{n}",status="404"})"),
        1);
    EXPECT_EQ(moved(R"(panelhost_http_requests_total{method="GET",route="/healthz",status="200"})"),
              kClients * kEach);
    EXPECT_EQ(
        after[R"(panelhost_http_request_duration_seconds_count{method="GET",route="/healthz"})"],
        after[R"(panelhost_http_requests_total{method="GET",route="/healthz",status="200"})"]);
    EXPECT_EQ(
        after
            [R"(panelhost_http_request_duration_seconds_bucket{method="GET",route="/healthz",le="+Inf"})"],
        kClients * kEach + 1);
    // Confirm writes a slot, the PUT a name: two committed writes.
    EXPECT_EQ(moved(R"(panelhost_store_writes_total{result="committed"})"), 2);
    EXPECT_EQ(moved("panelhost_store_write_duration_seconds_count"), 2);
    EXPECT_GT(moved(R"(panelhost_commands_total{command="TP"})"), 0);
    EXPECT_GT(moved(R"(panelhost_notifications_total{kind="database change"})"), 0);
    EXPECT_GT(moved(R"(panelhost_log_entries_total{kind="event"})"), 1);
    EXPECT_EQ(after[R"(panelhost_panel_instance_state{instance="1",state="running"})"], 1);
    EXPECT_EQ(after["panelhost_event_stream_clients"], 0);
    EXPECT_EQ(after["panelhost_errors_total"], 0);
    for (const auto& [series, value] : after) {
        EXPECT_EQ(series.find("/api/panels/1"), std::string::npos) << "a raw path: " << series;
    }
}

TEST(EndToEnd, ChoosingAndConfirmingASetChangesWhatTheDisplaysShow) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    EXPECT_EQ(host.property(1, "1", "Current", "text"), "Studio A");
    EXPECT_EQ(host.property(1, "1", "Names_3", "text"), "News");
    EXPECT_EQ(host.property(1, "1", "Confirm", "enabled"), "false");

    host.act(1, "1", "Select_3", "button=pressed");
    EXPECT_EQ(host.property(1, "1", "Select_3", "statesheet"), "ZRSourceSelected");
    EXPECT_EQ(host.property(1, "1", "Confirm", "enabled"), "true");
    host.act(1, "1", "Confirm", "button=pressed");

    EXPECT_EQ(host.get("/api/devices/57/slots/212").second["text"], "3");
    EXPECT_EQ(host.property(1, "1", "Current", "text"), "News");
    EXPECT_EQ(host.property(1, "1", "Confirm", "enabled"), "false");
    EXPECT_EQ(host.property(1, "1", "Select_3", "statesheet"), "ZRSourceDeselected");

    host.act(1, "1", "UMDBright_3", "button=pressed");
    EXPECT_EQ(host.property(1, "1", "UMDBright_3", "statesheet"), "ZRSourceSelected");
    EXPECT_EQ(host.property(1, "1", "UMDBright_2", "statesheet"), "ZRSourceDeselected");
}

TEST(EndToEnd, ACommittedNameIsStoredRecordedAndSurvivesARestart) {
    TempFolder data;
    {
        RunningHost host(data.path(), 1);
        openSource(host, 1, 5, 37);
        EXPECT_EQ(host.property(1, "2", "PreEdit", "text"), "Line In 1");
        EXPECT_EQ(host.property(1, "2", "LongName", "text"), "Line In 1");
        EXPECT_EQ(host.property(1, "2", "Nameset_id", "text"), "5");
        host.clearKeyboard(1);
        host.type(1, "Guest Cam");
        host.act(1, "2", "KB_1", "key.return");
        EXPECT_EQ(host.property(1, "2", "PostEdit", "text"), "Guest Cam");
        EXPECT_EQ(host.property(1, "2", "Update", "enabled"), "true");
        host.act(1, "2", "Update", "button=pressed");

        EXPECT_EQ(host.name(5, 37), "Guest Cam");
        EXPECT_EQ(host.property(1, "2", "PreEdit", "visible"), "false");
        const json history = host.get("/api/history?device=12&database=5&index=37").second;
        ASSERT_EQ(history["entries"].size(), 1u);
        EXPECT_EQ(history["entries"][0]["old"], "Line In 1");
        EXPECT_EQ(history["entries"][0]["new"], "Guest Cam");
        // The operator that pressed Update, on the instance that wrote.
        EXPECT_EQ(history["entries"][0]["who"], "token tests (127.0.0.1) on panel instance 1");
    }
    RunningHost restarted(data.path(), 1);
    EXPECT_EQ(restarted.name(5, 37), "Guest Cam");
    EXPECT_EQ(restarted.get("/api/history").second["entries"][0]["new"], "Guest Cam");
    // The panel read the stored name at start-up.
    openSource(restarted, 1, 5, 37);
    EXPECT_EQ(restarted.property(1, "2", "PreEdit", "text"), "Guest Cam");
}

TEST(EndToEnd, AChangeMadeElsewhereReachesAnOpenEdit) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    openSource(host, 1, 5, 37);
    const auto [status, body] = host.send("PUT", "/api/devices/12/databases/5/37",
                                          R"({"text": "Studio Guest", "client": "gallery"})");
    EXPECT_EQ(status, 200) << body.dump();
    EXPECT_EQ(host.property(1, "2", "PreEdit", "text"), "Studio Guest");
    EXPECT_EQ(host.property(1, "2", "KB_1", "text"), "Studio Guest");
    // The writer is who the token says, whatever the client calls itself.
    EXPECT_EQ(host.get("/api/history").second["entries"][0]["who"], "token tests (127.0.0.1)");
}

TEST(EndToEnd, ANameCutInsideACharacterStillShowsInTheApi) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    // 19 bytes: the panel cuts the keyboard's text to 16, inside an E-acute.
    const std::string accented =
        "A\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89\xc3\x89";
    EXPECT_EQ(
        host.send("PUT", "/api/devices/12/databases/1/6", json{{"text", accented}}.dump()).first,
        200);
    openSource(host, 1, 1, 6);
    host.type(1, "X");

    EXPECT_EQ(host.property(1, "2", "KB_1", "text"), accented.substr(0, 15) + "\xef\xbf\xbd");
    const auto [status, log] = host.get("/api/log?since=0");
    EXPECT_EQ(status, 200);
    for (const json& entry : log["entries"]) {
        EXPECT_NE(entry["kind"], "error") << entry.dump();
    }
}

TEST(EndToEnd, TwoPanelInstancesStayInSync) {
    TempFolder data;
    RunningHost host(data.path(), 2);
    host.act(1, "1", "Select_4", "button=pressed");
    host.act(1, "1", "Confirm", "button=pressed");
    EXPECT_EQ(host.property(2, "1", "Current", "text"), "Sport");

    // A title committed on instance 2 reaches the selector of instance 1.
    host.act(2, "1", "Name_Editor", "button=pressed");
    host.act(2, "2", "NameSet_4", "button=pressed");
    host.act(2, "2", "NamesetName", "button=pressed");
    host.clearKeyboard(2);
    host.type(2, "Football");
    host.act(2, "2", "KB_1", "key.return");
    host.act(2, "2", "Update", "button=pressed");
    EXPECT_EQ(host.name(9, 4), "Football");
    EXPECT_EQ(host.property(1, "1", "Names_4", "text"), "Football");
    EXPECT_EQ(host.property(1, "1", "Current", "text"), "Football");
    EXPECT_EQ(host.property(2, "1", "Names_4", "text"), "Football");
}

TEST(EndToEnd, BadRequestsAreRefusedWithAJsonError) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    const auto expectError = [](const std::pair<int, json>& answer, int status) {
        EXPECT_EQ(answer.first, status) << answer.second.dump();
        EXPECT_TRUE(answer.second.contains("error")) << answer.second.dump();
    };
    expectError(host.send("POST", "/api/panels/1/events", "{"), 400);
    expectError(host.send("POST", "/api/panels/1/events", R"({"panel": "1"})"), 400);
    expectError(host.send("POST", "/api/panels/9/events",
                          R"({"panel": "1", "control": "Confirm", "event": "button=pressed"})"),
                404);
    expectError(host.send("POST", "/api/panels/1/events",
                          R"({"panel": "1", "control": "Confirm", "event": "button=pressed"})"),
                409);
    expectError(host.send("POST", "/api/panels/1/events",
                          R"({"panel": "2", "control": "Update", "event": "button=pressed"})"),
                409);
    expectError(host.send("POST", "/api/panels/1/events",
                          R"({"panel": "1", "control": "Current", "event": "button=pressed"})"),
                400);
    expectError(host.send("PUT", "/api/devices/12/databases/5/37",
                          json{{"text", std::string(257, 'x')}}.dump()),
                400);
    expectError(host.send("PUT", "/api/devices/12/databases/5/129", R"({"text": "x"})"), 404);
    expectError(host.send("PUT", "/api/devices/57/slots/212", R"({"text": 5})"), 400);
    expectError(host.get("/api/devices/99"), 404);
    expectError(host.get("/api/log?since=x"), 400);
    expectError(host.get("/api/nothing"), 404);
    EXPECT_EQ(host.name(5, 37), "Line In 1");
    EXPECT_EQ(host.get("/api/devices/57/slots/212").second["text"], "1");

    httplib::Client raw("127.0.0.1", host.port());
    const auto page = raw.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("panelhost"), std::string::npos);
    for (const char* escape :
         {"/../CMakeLists.txt", "/..%2fCMakeLists.txt", "/%2e%2e/app/main.cpp"}) {
        const auto outside = raw.Get(escape);
        ASSERT_TRUE(outside);
        EXPECT_NE(outside->status, 200) << escape;
    }
}

TEST(EndToEnd, HostMessagesAndTheLog) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    EXPECT_EQ(host.send("POST", "/api/panels/1/messages", R"({"text": "myParam=on air"})")
                  .second["answer"],
              nullptr);
    EXPECT_EQ(
        host.send("POST", "/api/panels/1/messages", R"({"text": "return=all"})").second["answer"],
        "myParam=on air");
    const json log = host.get("/api/log?since=0&limit=10000").second;
    ASSERT_FALSE(log["entries"].empty());
    EXPECT_EQ(log["entries"][0]["sequence"], 1);
    for (const json& entry : log["entries"]) {
        EXPECT_NE(entry["kind"], "error") << entry.dump();
    }
    const long long last = log["last"];
    EXPECT_TRUE(host.get("/api/log?since=" + std::to_string(last)).second["entries"].empty());
}

TEST(EndToEnd, TheStreamCarriesEveryChange) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    std::atomic<bool> connected{false};
    std::atomic<bool> seen{false};
    std::string received;
    httplib::Client listener("127.0.0.1", host.port());
    listener.set_bearer_token_auth(host.token());
    std::thread reader([&] {
        listener.Get(
            "/api/stream",
            [&](const httplib::Response&) {
                connected = true;
                return true;
            },
            [&](const char* chunk, std::size_t length) {
                received.append(chunk, length);
                seen = received.find("event: slot") != std::string::npos;
                return !seen;
            });
    });
    for (int i = 0; i < 1000 && !connected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(connected);
    host.act(1, "1", "Select_2", "button=pressed");
    host.act(1, "1", "Confirm", "button=pressed");
    for (int i = 0; i < 1000 && !seen; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Ends the stream in any case, so the reader returns.
    host.host().shutdown();
    reader.join();
    EXPECT_NE(received.find("event: control\ndata: {\"control\":\"Select_2\""), std::string::npos);
    EXPECT_NE(received.find("event: log\n"), std::string::npos);
    EXPECT_NE(received.find("event: slot\ndata: {\"device\":57,\"index\":212,\"text\":\"2\""),
              std::string::npos);
}

TEST(EndToEnd, ShutdownEndsEveryScriptWithGoodbye) {
    TempFolder data;
    RunningHost host(data.path(), 2);
    host.host().shutdown();
    std::map<int, std::string> lastCommand;
    for (const LogEntry& entry : host.host().log().since(0, 100000)) {
        if (entry.kind == "command") {
            lastCommand[entry.instance] = entry.text;
        }
    }
    EXPECT_EQ(lastCommand, (std::map<int, std::string>{{1, "AS"}, {2, "AS"}}));
}

TEST(EndToEnd, ASecondHostCannotTakeAPortInUse) {
    TempFolder firstData;
    TempFolder secondData;
    RunningHost first(firstData.path(), 1);
    HostOptions options;
    options.plugin = PANELHOST_PLUGIN;
    options.layouts = PANELHOST_LAYOUTS;
    options.web = PANELHOST_WEB;
    options.data = secondData.path();
    options.port = first.host().port();
    options.consoleLog = false;
    try {
        HostApplication second(options);
        ADD_FAILURE() << "a second host served on port " << options.port;
    } catch (const StartupError& error) {
        EXPECT_EQ(error.exitCode(), StartupError::kNetwork);
    }
}

TEST(EndToEnd, AStoreReadThatFailsIsAnErrorAtTheStartAndInTheHistory) {
    TempFolder data;
    {
        const SqliteReadFault fault("SELECT id, time, who", 1);
        RunningHost host(data.path(), 1);
        EXPECT_EQ(host.send("PUT", "/api/devices/12/databases/5/37", R"({"text": "Guest"})").first,
                  200);
        EXPECT_EQ(host.send("PUT", "/api/devices/12/databases/5/38", R"({"text": "Host"})").first,
                  200);
        const auto [status, body] = host.get("/api/history");
        EXPECT_TRUE(fault.struck());
        EXPECT_EQ(status, 500) << body.dump();
        EXPECT_TRUE(body.contains("error")) << body.dump();
        EXPECT_NE(body.dump().find("cannot read the history"), std::string::npos) << body.dump();
        EXPECT_EQ(host.get("/api/history").second["entries"].size(), 2u);
    }
    const SqliteReadFault fault("SELECT device, db, idx, text FROM names", 5);
    HostOptions options;
    options.plugin = PANELHOST_PLUGIN;
    options.layouts = PANELHOST_LAYOUTS;
    options.web = PANELHOST_WEB;
    options.data = data.path();
    options.port = 0;
    options.consoleLog = false;
    try {
        HostApplication host(options);
        ADD_FAILURE() << "a host started on names it could not read";
    } catch (const StartupError& error) {
        EXPECT_EQ(error.exitCode(), StartupError::kDataFile);
        EXPECT_NE(std::string(error.what()).find("cannot read the names"), std::string::npos)
            << error.what();
        EXPECT_NE(std::string(error.what()).find(data.path().string()), std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(fault.struck());
}

TEST(EndToEnd, ManyOpenStreamsLeaveTheApiServingAndTheLimitRefusesMore) {
    // More streams than the host once had threads, all of them served.
    constexpr std::size_t kStreams = 40;
    TempFolder data;
    RunningHost host(data.path(), 1, kStreams);
    std::vector<std::unique_ptr<RawStream>> streams;
    for (std::size_t i = 0; i < kStreams; ++i) {
        streams.push_back(std::make_unique<RawStream>(host.port(), host.token()));
        ASSERT_TRUE(streams.back()->readUntil("\r\n\r\n")) << "stream " << i;
        ASSERT_EQ(streams.back()->received().rfind("HTTP/1.1 200 OK\r\n", 0), 0u)
            << streams.back()->received();
    }
    EXPECT_EQ(host.get("/api/panels").first, 200);
    EXPECT_EQ(host.host().openStreams(), kStreams);

    RawStream refused(host.port(), host.token());
    ASSERT_TRUE(refused.readUntil("}"));
    EXPECT_EQ(refused.received().rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u)
        << refused.received();
    EXPECT_NE(refused.received().find("Retry-After: "), std::string::npos) << refused.received();
    EXPECT_NE(refused.received().find("{\"error\":"), std::string::npos) << refused.received();

    // A client that goes away frees its place for the next one.
    streams.pop_back();
    for (int wait = 0; wait < 1000 && host.host().openStreams() == kStreams; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(host.host().openStreams(), kStreams - 1);
    streams.push_back(std::make_unique<RawStream>(host.port(), host.token()));
    ASSERT_TRUE(streams.back()->readUntil("\r\n\r\n"));
    EXPECT_EQ(streams.back()->received().rfind("HTTP/1.1 200 OK\r\n", 0), 0u)
        << streams.back()->received();

    // Every open stream carries a change.
    EXPECT_EQ(host.send("PUT", "/api/devices/57/slots/212", R"({"text": "7"})").first, 200);
    for (const auto& stream : streams) {
        EXPECT_TRUE(stream->readUntil("event: slot\ndata: {\"device\":57,\"index\":212"))
            << stream->received();
    }
}

// A bulk import and its undo through the API: wrong lines write nothing,
// the undo keeps a later change, a second undo changes nothing, and a
// restore of the later change is recorded as one.
TEST(EndToEnd, AnImportIsUndoneWithoutLosingLaterChanges) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    const std::string set = "/api/devices/12/databases/6";
    const json wrong{{"csv", "1,One\n1,Again\n"}};
    EXPECT_EQ(host.send("POST", set + "/import", wrong.dump()).first, 400);
    EXPECT_EQ(host.get(set + "/1").second["text"], "Drama Cam 1");

    const json csv{{"csv", "source,name\n1,One\n2,Two\n3,Drama Cam 3\n"}, {"file", "a.csv"}};
    const auto [status, imported] = host.send("POST", set + "/import", csv.dump());
    ASSERT_EQ(status, 200) << imported.dump();
    EXPECT_EQ(imported["counts"],
              json({{"new", 0}, {"changed", 2}, {"unchanged", 1}, {"wrong", 0}}));
    const std::string batch = "/api/batches/" + std::to_string(imported["batch"]["id"].get<int>());
    EXPECT_EQ(host.get(batch).second["entries"].size(), 2u);
    EXPECT_EQ(host.send("PUT", set + "/2", R"({"text": "Later"})").first, 200);

    const auto [undoStatus, undone] = host.send("POST", batch + "/undo", "{}");
    ASSERT_EQ(undoStatus, 200) << undone.dump();
    EXPECT_EQ(undone["restored"], 1);
    ASSERT_EQ(undone["skipped"].size(), 1u);
    EXPECT_EQ(undone["skipped"][0]["index"], 2);
    EXPECT_EQ(host.get(set + "/1").second["text"], "Drama Cam 1");
    EXPECT_EQ(host.get(set + "/2").second["text"], "Later");
    EXPECT_EQ(host.send("POST", batch + "/undo", "{}").second["restored"], 0);

    const json later = host.get("/api/history?limit=1&index=2").second["entries"][0];
    ASSERT_EQ(later["new"], "Later");
    const std::string restore =
        "/api/history/" + std::to_string(later["id"].get<int>()) + "/restore";
    EXPECT_EQ(host.send("POST", restore, "{}").first, 200);
    EXPECT_EQ(host.get(set + "/2").second["text"], "Two");
    EXPECT_EQ(host.get("/api/history?limit=1").second["entries"][0]["restores"], later["id"]);
    EXPECT_EQ(host.send("POST", "/api/history/99999/restore", "{}").first, 404);
}
