// Many clients at once on the loopback interface: every request of every
// client is answered, each client reads back what it wrote, the history
// records every write, and the event stream, open all along, carries every
// change.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "HostProcess.h"
#include "LoopbackClient.h"
#include "TempFolder.h"

namespace {

using nlohmann::json;

constexpr int kClients = 32;
constexpr int kRequestsEach = 50;
// Every fifth request of a client writes its own entry.
constexpr int kKinds = 5;
constexpr int kWritesEach = kRequestsEach / kKinds;
constexpr int kSets = 8;
constexpr const char* kDatabaseEvent = "event: database\n";
constexpr const char* kSlotEvent = "event: slot\n";
// A slot no client writes: writes to it show that the stream is listening.
constexpr const char* kProbeSlot = "/api/devices/57/slots/100";
constexpr auto kProbeInterval = std::chrono::milliseconds(20);

std::string entryOf(int client) {
    return "/api/devices/12/databases/" + std::to_string(client % kSets + 1) + "/" +
           std::to_string(client + 1);
}

std::string textOf(int client, int request) {
    return "c" + std::to_string(client) + " r" + std::to_string(request);
}

struct Tally {
    int answered = 0;
    int ok = 0;
    int staleReads = 0;
};

// Request `request` of `client`: its own writes (the text it wrote goes to
// `written`), reads of them, the panels, the log, and the front end's page,
// in turn.
httplib::Result send(LoopbackClient& http, int client, int request, std::string& written) {
    switch (request % kKinds) {
        case 0:
            written = textOf(client, request);
            return http.http().Put(entryOf(client), json{{"text", written}}.dump(),
                                   "application/json");
        case 1:
            return http.http().Get(entryOf(client));
        case 2:
            return http.http().Get("/api/panels/1");
        case 3:
            return http.http().Get("/api/log?limit=20");
        default:
            return http.http().Get("/");
    }
}

Tally runClient(HostProcess& host, int client) {
    LoopbackClient http(host);
    Tally tally;
    std::string written;
    for (int request = 0; request < kRequestsEach; ++request) {
        const httplib::Result result = send(http, client, request, written);
        if (!result) {
            continue;
        }
        ++tally.answered;
        tally.ok += result->status == 200 ? 1 : 0;
        if (request % kKinds == 1 && json::parse(result->body)["text"] != written) {
            ++tally.staleReads;
        }
    }
    return tally;
}

// All clients at once; each must get every answer, all 200, and read back
// what it wrote.
void runClients(HostProcess& host) {
    std::vector<Tally> tallies(kClients);
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&tallies, &host, client] {
            tallies[static_cast<std::size_t>(client)] = runClient(host, client);
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    for (int client = 0; client < kClients; ++client) {
        const Tally& tally = tallies[static_cast<std::size_t>(client)];
        EXPECT_EQ(tally.answered, kRequestsEach) << "client " << client;
        EXPECT_EQ(tally.ok, kRequestsEach) << "client " << client;
        EXPECT_EQ(tally.staleReads, 0) << "client " << client;
    }
}

// Each client's last write is stored, and the history holds every write.
void expectEveryWriteKept(HostProcess& host) {
    LoopbackClient check(host);
    for (int client = 0; client < kClients; ++client) {
        const auto entry = check.http().Get(entryOf(client));
        ASSERT_TRUE(entry && entry->status == 200);
        EXPECT_EQ(json::parse(entry->body)["text"], textOf(client, (kWritesEach - 1) * kKinds));
    }
    const auto history = check.http().Get("/api/history?device=12&limit=1000");
    ASSERT_TRUE(history && history->status == 200);
    EXPECT_EQ(json::parse(history->body)["entries"].size(),
              static_cast<std::size_t>(kClients * kWritesEach));
}

}  // namespace

TEST(HostUnderLoad, EveryRequestOfManyConcurrentClientsIsAnswered) {
    TempFolder folder;
    HostProcess host(HostProcess::Setup(folder.path() / "data"), folder.path() / "host.log");
    ASSERT_TRUE(host.waitUntilServing()) << host.output();

    // The event stream, read all along, until it has carried every write.
    std::atomic<bool> listening{false};
    std::atomic<int> streamed{0};
    std::thread stream([&] {
        LoopbackClient client(host);
        std::string pending;
        client.http().Get("/api/stream", [&](const char* data, std::size_t length) {
            pending.append(data, length);
            listening = listening || pending.find(kSlotEvent) != std::string::npos;
            for (std::size_t at = pending.find(kDatabaseEvent); at != std::string::npos;
                 at = pending.find(kDatabaseEvent)) {
                ++streamed;
                pending.erase(0, at + std::char_traits<char>::length(kDatabaseEvent));
            }
            return streamed < kClients * kWritesEach;
        });
    });
    LoopbackClient probe(host);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(LoopbackClient::kRequestTimeout);
    while (!listening && std::chrono::steady_clock::now() < deadline) {
        probe.http().Put(kProbeSlot, R"({"text": "probe"})", "application/json");
        std::this_thread::sleep_for(kProbeInterval);
    }
    if (listening) {
        runClients(host);
        expectEveryWriteKept(host);
    }
    // The stream ends at its last expected write, or when the host stops.
    EXPECT_EQ(host.stop(), 0) << host.output();
    stream.join();
    EXPECT_TRUE(listening) << "the event stream never started";
    EXPECT_EQ(streamed, kClients * kWritesEach);
}
