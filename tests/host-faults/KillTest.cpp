// panelhost killed with SIGKILL in the middle of a stream of name writes
// through the API: after a restart every write it acknowledged is there,
// and the data file as the kill left it is intact.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "HostProcess.h"
#include "IntegrityCheck.h"
#include "LoopbackClient.h"
#include "TempFolder.h"

namespace {

using nlohmann::json;

constexpr int kSets = 8;  // databases 1 to 8 of the names infodriver
constexpr int kEntries = 128;
constexpr int kWriters = 4;
// Acknowledged writes each round waits for before the kill, so that the
// kill falls at different points of the stream.
constexpr int kKillAfter[] = {10, 200, 700};
constexpr auto kPoll = std::chrono::milliseconds(1);
constexpr auto kLongestRound = std::chrono::seconds(120);

using Key = std::pair<int, int>;  // database, index

// What an entry may hold after a crash: the last acknowledged text, or the
// text of a write that was under way, unanswered, when the host died.
struct Expected {
    std::optional<std::string> acknowledged;
    std::set<std::string> unanswered;
};

struct Write {
    Key key;
    std::string text;
    // The HTTP status, 0 when no answer came.
    int status;
};

std::string entryPath(const Key& key) {
    return "/api/devices/12/databases/" + std::to_string(key.first) + "/" +
           std::to_string(key.second);
}

// Writer `writer` writes every kWriters-th entry of the eight sets, one
// request at a time, until a request is not answered with 200 or `stop`.
std::vector<Write> writeStream(HostProcess& host, int round, int writer,
                               const std::atomic<bool>& stop, std::atomic<int>& acknowledged) {
    LoopbackClient client(host);
    std::vector<Write> writes;
    for (int n = writer; n < kSets * kEntries && !stop; n += kWriters) {
        const Key key{n / kEntries + 1, n % kEntries + 1};
        const std::string text = "r" + std::to_string(round) + " n" + std::to_string(n);
        const auto result =
            client.http().Put(entryPath(key), json{{"text", text}}.dump(), "application/json");
        writes.push_back(Write{key, text, result ? result->status : 0});
        if (writes.back().status != 200) {
            break;
        }
        ++acknowledged;
    }
    return writes;
}

// Streams writes from kWriters clients and kills the host once `killAfter`
// of them were acknowledged; returns every write made.
std::vector<Write> writeUntilKilled(HostProcess& host, int round, int killAfter) {
    std::atomic<bool> stop{false};
    std::atomic<int> acknowledged{0};
    std::vector<std::vector<Write>> streams(kWriters);
    std::vector<std::thread> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        writers.emplace_back([&, writer] {
            streams[static_cast<std::size_t>(writer)] =
                writeStream(host, round, writer, stop, acknowledged);
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + kLongestRound;
    while (acknowledged < killAfter && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPoll);
    }
    host.kill();
    stop = true;
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::vector<Write> all;
    for (const auto& stream : streams) {
        all.insert(all.end(), stream.begin(), stream.end());
    }
    return all;
}

void expectHeld(HostProcess& host, const std::map<Key, Expected>& expected) {
    LoopbackClient client(host);
    for (int database = 1; database <= kSets; ++database) {
        const auto result =
            client.http().Get("/api/devices/12/databases/" + std::to_string(database));
        ASSERT_TRUE(result && result->status == 200) << database;
        const json body = json::parse(result->body);
        for (const json& entry : body["entries"]) {
            const auto found = expected.find(Key{database, entry["index"].get<int>()});
            if (found == expected.end() || !found->second.acknowledged) {
                continue;
            }
            const std::string text = entry["text"];
            EXPECT_TRUE(text == *found->second.acknowledged ||
                        found->second.unanswered.count(text) != 0)
                << "database " << database << " entry " << entry["index"] << " holds '" << text
                << "', acknowledged was '" << *found->second.acknowledged << "'";
        }
    }
}

}  // namespace

TEST(HostKilled, EveryAcknowledgedWriteSurvivesASigkillMidStream) {
    TempFolder folder;
    const std::filesystem::path data = folder.path() / "data";
    std::map<Key, Expected> expected;
    int round = 0;
    for (const int killAfter : kKillAfter) {
        const std::string name = "round" + std::to_string(round);
        HostProcess host(HostProcess::Setup(data), folder.path() / (name + ".log"));
        ASSERT_TRUE(host.waitUntilServing()) << host.output();
        expectHeld(host, expected);

        int acknowledged = 0;
        for (const Write& write : writeUntilKilled(host, round, killAfter)) {
            if (write.status == 200) {
                expected[write.key] = Expected{write.text, {}};
                ++acknowledged;
            } else {
                // Only the kill may leave a write unanswered; no write is refused.
                EXPECT_EQ(write.status, 0) << write.text;
                expected[write.key].unanswered.insert(write.text);
            }
        }
        EXPECT_GE(acknowledged, killAfter);
        EXPECT_EQ(integrityCheck(copyDataFile(data, folder.path() / name)), "ok");
        ++round;
    }

    HostProcess host(HostProcess::Setup(data), folder.path() / "last.log");
    ASSERT_TRUE(host.waitUntilServing()) << host.output();
    expectHeld(host, expected);
    EXPECT_EQ(host.stop(), 0) << host.output();
    EXPECT_EQ(integrityCheck(data / "panelhost.db"), "ok");
}
