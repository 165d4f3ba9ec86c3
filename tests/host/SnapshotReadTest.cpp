#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "RunningHost.h"
#include "SqliteAccountStore.h"
#include "TempFolder.h"

using nlohmann::json;

namespace {

// The set every import of the test replaces whole.
const std::string kSet = "/api/devices/12/databases/6";
constexpr int kEntries = 128;

// A CSV naming every source of the set "Round N".
std::string wholeSet(int round) {
    std::string csv = "source,name\n";
    for (int source = 1; source <= kEntries; ++source) {
        csv += std::to_string(source) + ",Round " + std::to_string(round) + "\n";
    }
    return json{{"csv", csv}}.dump();
}

// The round every name of a set's answer shows; -1 when they differ (a
// batch seen halfway), 0 for names of no round.
int roundOf(const json& set) {
    int round = 0;
    for (std::size_t i = 0; i < set["entries"].size(); ++i) {
        const std::string text = set["entries"][i]["text"];
        const int found = text.rfind("Round ", 0) == 0 ? std::stoi(text.substr(6)) : 0;
        if (i > 0 && found != round) {
            return -1;
        }
        round = found;
    }
    return round;
}

}  // namespace

// A name set's answer is the JSON of its names exactly as the library
// writes it, whatever the names hold, also after single names change.
TEST(SnapshotReads, ANameSetsAnswerIsTheJsonTextOfItsNames) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    const std::vector<std::string> awkward = {
        "",          "\"quoted\"",        "back\\slash", "Caf\xc3\xa9 \xe2\x82\xac",
        "</script>", std::string(40, 'x')};
    std::vector<std::string> names;
    const json before = host.get("/api/devices/12/databases/7").second;
    for (const json& entry : before["entries"]) {
        names.push_back(entry["text"].get<std::string>());
    }
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kEntries));
    for (std::size_t i = 0; i < awkward.size() * 3; ++i) {
        const int index = static_cast<int>(i * 13 % kEntries) + 1;
        names[static_cast<std::size_t>(index - 1)] = awkward[i % awkward.size()];
        ASSERT_EQ(host.send("PUT", "/api/devices/12/databases/7/" + std::to_string(index),
                            json{{"text", awkward[i % awkward.size()]}}.dump())
                      .first,
                  200)
            << awkward[i % awkward.size()];
        json entries = json::array();
        for (std::size_t entry = 0; entry < names.size(); ++entry) {
            entries.push_back({{"index", entry + 1}, {"text", names[entry]}});
        }
        const json expected = {{"device", 12}, {"database", 7}, {"entries", entries}};
        ASSERT_EQ(host.text("/api/devices/12/databases/7"), expected.dump()) << "after " << i;
    }
}

// Reads answer from the snapshot the engine publishes after every change,
// never from the engine itself: a client that wrote sees its write in the
// very next read, on every read route that shows it.
TEST(SnapshotReads, AReadAfterAWriteSeesIt) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    // The wall shows set 1 (slot 212 of the tally), the names driver's
    // database 1.
    for (int round = 1; round <= 20; ++round) {
        const std::string text = "Cam " + std::to_string(round);
        ASSERT_EQ(
            host.send("PUT", "/api/devices/12/databases/1/5", json{{"text", text}}.dump()).first,
            200);
        EXPECT_EQ(host.name(1, 5), text);
        EXPECT_EQ(host.get("/api/devices/12/databases/1").second["entries"][4]["text"], text);
        EXPECT_EQ(host.get("/api/wall").second["displays"][4]["name"], text);
    }
    ASSERT_EQ(host.send("PUT", "/api/devices/57/slots/212", json{{"text", "3"}}.dump()).first, 200);
    EXPECT_EQ(host.get("/api/wall").second["nameset"], 3);
    EXPECT_EQ(host.get("/api/devices/57/slots/212").second["text"], "3");
    const json slots = host.get("/api/devices/57/slots").second["slots"];
    EXPECT_NE(std::find(slots.begin(), slots.end(), json{{"index", 212}, {"text", "3"}}),
              slots.end());
    // A panel's state: a choice lit as soon as the press is answered.
    for (const char* choice : {"Select_3", "Select_4", "Select_3"}) {
        host.act(1, "1", choice, "button=pressed");
        EXPECT_EQ(host.property(1, "1", choice, "statesheet"), "ZRSourceSelected");
    }
    EXPECT_EQ(host.get("/api/panels").second["instances"][0], host.get("/api/panels/1").second);
    EXPECT_EQ(host.get("/api/devices/12/databases/10").first, 404);
    EXPECT_EQ(host.get("/api/devices/12/databases/1/129").first, 404);
    EXPECT_EQ(host.get("/api/devices/99").first, 404);
    EXPECT_EQ(host.get("/api/devices/1/slots").first, 404);
    EXPECT_EQ(host.get("/api/devices/57/slots/4097").first, 404);
}

// Readers on several connections while a writer replaces a whole set in
// one batch after another: no reader ever sees a batch halfway, nor an
// older round after a newer one, and the writer sees each round as soon as
// its import is answered.
TEST(SnapshotReads, ConcurrentReadersNeverSeeATornOrOlderState) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    constexpr std::size_t kReaders = 4;
    constexpr int kRounds = 40;
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::vector<std::string> faults(kReaders);
    std::vector<std::thread> readers;
    for (std::size_t reader = 0; reader < kReaders; ++reader) {
        readers.emplace_back([&, reader] {
            httplib::Client client("127.0.0.1", host.port());
            client.set_bearer_token_auth(host.token());
            int last = 0;
            while (!done && faults[reader].empty()) {
                const auto answer = client.Get(kSet.c_str());
                if (!answer || answer->status != 200) {
                    faults[reader] = "a read failed";
                    break;
                }
                const int round = roundOf(json::parse(answer->body));
                if (round < 0 || round < last) {
                    faults[reader] = "round " + std::to_string(round) + " after " +
                                     std::to_string(last) + ": " + answer->body;
                }
                last = round;
                ++reads;
            }
        });
    }
    for (int round = 1; round <= kRounds; ++round) {
        const auto [status, body] = host.send("POST", kSet + "/import", wholeSet(round));
        ASSERT_EQ(status, 200) << body.dump();
        EXPECT_EQ(roundOf(host.get(kSet).second), round);
    }
    done = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    for (const std::string& fault : faults) {
        EXPECT_EQ(fault, "");
    }
    EXPECT_GT(reads.load(), static_cast<int>(kReaders));
}

// Tokens are checked in memory; a token revoked with `panelhost token
// revoke` while the host runs is refused within a second all the same, and
// one revoked through the host's API at once.
TEST(IdentitiesInMemory, ARevokedTokenIsRefusedWithinASecond) {
    TempFolder data;
    RunningHost host(data.path(), 1);
    panelhost::SqliteAccountStore tool(data.path() / "panelhost.db");
    const std::string byTool = tool.createToken(panelhost::Role::Viewer, "by-tool").token;
    const auto [created, byApi] =
        host.send("POST", "/api/tokens", json{{"role", "viewer"}, {"name", "by-api"}}.dump());
    ASSERT_EQ(created, 200);
    const auto status = [&](const std::string& token) {
        httplib::Client client("127.0.0.1", host.port());
        client.set_bearer_token_auth(token);
        const auto answer = client.Get("/api/wall");
        return answer ? answer->status : 0;
    };
    EXPECT_EQ(status(byTool), 200);
    EXPECT_EQ(status(byApi["token"]), 200);

    httplib::Client admin("127.0.0.1", host.port());
    admin.set_bearer_token_auth(host.token());
    ASSERT_EQ(admin.Delete("/api/tokens/by-api", "", "application/json")->status, 200);
    EXPECT_EQ(status(byApi["token"]), 401) << "refused at once through the host itself";

    tool.revokeToken("by-tool");
    const auto revoked = std::chrono::steady_clock::now();
    while (status(byTool) == 200 &&
           std::chrono::steady_clock::now() - revoked < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(status(byTool), 401);
    EXPECT_LE(std::chrono::steady_clock::now() - revoked, std::chrono::seconds(1));
    EXPECT_EQ(status(host.token()), 200);
}
