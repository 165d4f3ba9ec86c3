// The panel host with the panel: how long an operator's event takes, through
// the HTTP API on loopback, to come back as a change on the event stream,
// also with a thousand other pages on the stream; how fast the panels are
// read then, and how long a name change takes to reach all thousand pages;
// what one database change costs the host when 100 panel instances follow
// the names infodriver, in memory and on disk; and the same change through
// the API with the data on disk, as a studio runs it; and a thousand pages
// reconnecting at once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EngineStudio.h"
#include "IdentityTable.h"
#include "LoopbackHost.h"
#include "ReconnectStorm.h"
#include "StreamCrowd.h"
#include "StreamWatcher.h"

namespace {
using Clock = StreamWatcher::Clock;
using nlohmann::json;

// Longer than any answer on loopback takes; a change not seen by then is lost.
constexpr std::chrono::milliseconds kPatience{2000};
// Presses before the measurement, until the stream is known to be connected.
constexpr int kConnectAttempts = 50;
constexpr std::chrono::milliseconds kConnectWait{100};
constexpr int kPanelInstances = 100;
// The pages open on the event stream in a studio with a wall of displays,
// the operators' tablets and every browser left open.
constexpr std::size_t kPages = 1000;
// Longer than a thousand connections take to open on loopback.
constexpr std::chrono::milliseconds kCrowdPatience{30000};
// The entry the changes write: source 37 of name set 5 in the names
// infodriver (device 12), which every instance follows.
constexpr int kNamesDevice = 12;
constexpr int kNameSet = 5;
constexpr int kSource = 37;
constexpr char kNameEntry[] = "/api/devices/12/databases/5/37";
// Two names in turn, so that every change changes the entry.
const char* const kNames[] = {"Replay Angle One", "Replay Angle Two"};

// The system's temporary folder is on disk: a change waits for the data
// file to reach it. A memory file system leaves the host's own work.
std::filesystem::path onDisk() {
    return std::filesystem::temp_directory_path();
}
const std::filesystem::path kMemoryFolder = "/dev/shm";

std::string pressBody(const char* control) {
    return json{{"panel", "1"}, {"control", control}, {"event", "button=pressed"}}.dump();
}

bool holds(const json& data, const char* key, const json& expected) {
    const auto found = data.find(key);
    return found != data.end() && *found == expected;
}

// The change that shows `control` lit on the selector panel of instance 1.
StreamWatcher::Match lit(const char* control) {
    return [control](const std::string& type, const json& data) {
        return type == "control" && data.is_object() && holds(data, "instance", 1) &&
               holds(data, "control", control) && holds(data, "value", "ZRSourceSelected");
    };
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[rank];
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// From sending a press of a choice button to the change that lights it
// arriving on `stream`. The presses alternate between two buttons, so each
// one changes what the stream shows.
void measurePresses(benchmark::State& state, LoopbackHost& host, StreamWatcher& stream) {
    bool connected = false;
    for (int attempt = 0; attempt < kConnectAttempts && !connected; ++attempt) {
        const char* control = attempt % 2 == 0 ? "Select_3" : "Select_4";
        stream.clear();
        connected = host.post("/api/panels/1/events", pressBody(control)) == 200 &&
                    stream.waitFor(lit(control), kConnectWait).has_value();
    }
    if (!connected) {
        state.SkipWithError("the host's event stream shows no change of a pressed button");
        return;
    }
    std::vector<double> latencies;
    bool third = false;
    for (auto _ : state) {
        const char* control = third ? "Select_3" : "Select_4";
        third = !third;
        stream.clear();
        const Clock::time_point sent = Clock::now();
        const int status = host.post("/api/panels/1/events", pressBody(control));
        const auto arrived = stream.waitFor(lit(control), kPatience);
        if (status != 200 || !arrived) {
            state.SkipWithError("a press did not come back on the event stream");
            return;
        }
        const double seconds = std::chrono::duration<double>(*arrived - sent).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds);
    }
    state.counters["median_us"] = percentile(latencies, 0.5) * 1e6;
    state.counters["p99_us"] = percentile(latencies, 0.99) * 1e6;
}

void HostEventLatency(benchmark::State& state) {
    LoopbackHost host(1, onDisk());
    StreamWatcher stream(host.port(), host.token());
    measurePresses(state, host, stream);
}

// The thousand pages open, and all of them served, before a measurement.
bool openPages(benchmark::State& state, StreamCrowd& pages) {
    if (!pages.waitAll(kCrowdPatience)) {
        state.SkipWithError("the host did not serve a thousand event streams");
        return false;
    }
    return true;
}

// The press as above, seen by one more page while a thousand are open.
void HostEventLatencyWithPages(benchmark::State& state) {
    LoopbackHost host(1, onDisk());
    StreamCrowd pages(host.port(), kPages, host.token());
    if (!openPages(state, pages)) {
        return;
    }
    StreamWatcher stream(host.port(), host.token());
    measurePresses(state, host, stream);
}

// GET /api/panels, the largest read a page makes, while a thousand pages
// are open on the stream.
void PanelsWithPages(benchmark::State& state) {
    LoopbackHost host(1, onDisk());
    StreamCrowd pages(host.port(), kPages, host.token());
    if (!openPages(state, pages)) {
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const Clock::time_point sent = Clock::now();
        if (host.get("/api/panels") != 200) {
            state.SkipWithError("the panels were not read");
            return;
        }
        const double seconds = secondsSince(sent);
        state.SetIterationTime(seconds);
        latencies.push_back(seconds);
    }
    state.counters["median_us"] = percentile(latencies, 0.5) * 1e6;
    state.counters["p99_us"] = percentile(latencies, 0.99) * 1e6;
}

// A name written through the API until the last of a thousand pages has it
// on its stream.
void NameFanOutToPages(benchmark::State& state) {
    LoopbackHost host(1, onDisk());
    StreamCrowd pages(host.port(), kPages, host.token());
    if (!openPages(state, pages)) {
        return;
    }
    std::vector<double> latencies;
    std::size_t next = 0;
    for (auto _ : state) {
        const char* name = kNames[next];
        next = 1 - next;
        pages.expect(name);
        const Clock::time_point sent = Clock::now();
        const int status = host.put(kNameEntry, json{{"text", name}}.dump());
        const auto last = pages.waitAll(kPatience);
        if (status != 200 || !last) {
            state.SkipWithError("a name change did not reach every page");
            return;
        }
        const double seconds = std::chrono::duration<double>(*last - sent).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds);
    }
    state.counters["median_us"] = percentile(latencies, 0.5) * 1e6;
    state.counters["p99_us"] = percentile(latencies, 0.99) * 1e6;
}

// A change with 100 instances following it, and in turn the same change
// with one instance: the difference is what the fan-out costs. The engine
// runs in this thread with its data in memory, so the figures are the
// host's own work. The time shown is the change with 100 instances.
void DatabaseChangeFanOut(benchmark::State& state) {
    if (!std::filesystem::is_directory(kMemoryFolder)) {
        state.SkipWithError("no memory file system at /dev/shm");
        return;
    }
    EngineStudio many(kPanelInstances, kMemoryFolder);
    EngineStudio one(1, kMemoryFolder);
    double manySeconds = 0;
    double oneSeconds = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        const char* name = kNames[next];
        next = 1 - next;
        const Clock::time_point manyStart = Clock::now();
        const bool manyTook = many.writeName(kNamesDevice, kNameSet, kSource, name);
        const double manyElapsed = secondsSince(manyStart);
        const Clock::time_point oneStart = Clock::now();
        const bool oneTook = one.writeName(kNamesDevice, kNameSet, kSource, name);
        oneSeconds += secondsSince(oneStart);
        if (!manyTook || !oneTook) {
            state.SkipWithError("the host refused the change of a name");
            return;
        }
        state.SetIterationTime(manyElapsed);
        manySeconds += manyElapsed;
    }
    const double changes = static_cast<double>(state.iterations());
    state.counters["one_instance_us"] = oneSeconds / changes * 1e6;
    state.counters["per_instance_us"] =
        (manySeconds - oneSeconds) / changes / (kPanelInstances - 1) * 1e6;
    state.SetItemsProcessed(state.iterations());
}

// The change with 100 instances in this thread, with the data file on disk:
// what it costs the host to make a change durable.
void DatabaseChangeOnDisk(benchmark::State& state) {
    EngineStudio many(kPanelInstances, onDisk());
    std::size_t next = 0;
    for (auto _ : state) {
        const char* name = kNames[next];
        next = 1 - next;
        const Clock::time_point start = Clock::now();
        const bool took = many.writeName(kNamesDevice, kNameSet, kSource, name);
        const double elapsed = secondsSince(start);
        if (!took) {
            state.SkipWithError("the host refused the change of a name");
            return;
        }
        state.SetIterationTime(elapsed);
    }
    state.SetItemsProcessed(state.iterations());
}

// The same change through the HTTP API with 100 instances and the data file
// on disk: from the request to its answer, which comes once the change is
// on disk and every instance has had its notification.
void DatabaseChangeOverApi(benchmark::State& state) {
    LoopbackHost host(kPanelInstances, onDisk());
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string body = json{{"text", kNames[next]}}.dump();
        next = 1 - next;
        const Clock::time_point start = Clock::now();
        const int status = host.put(kNameEntry, body);
        const double elapsed = secondsSince(start);
        if (status != 200) {
            state.SkipWithError("the host refused the change of a name");
            return;
        }
        state.SetIterationTime(elapsed);
    }
    state.SetItemsProcessed(state.iterations());
}

// A thousand pages reconnecting at once, as after a network blip: from the
// first connection until the last page's event stream is open, each page
// having read its session, the panels and the wall first, on a token of
// its own. Goal: every page live within 2 s, none refused.
void ReconnectStormOfPages(benchmark::State& state) {
    LoopbackHost host(1, onDisk());
    ReconnectStorm storm(host.port(), host.viewerTokens(kPages));
    // Long enough for the host's table of identities to have read the new
    // tokens, so that the storm meets the host as it runs.
    std::this_thread::sleep_for(2 * panelhost::IdentityTable::kRecheck);
    std::size_t refused = 0;
    for (auto _ : state) {
        const ReconnectStorm::Outcome outcome = storm.run(kCrowdPatience);
        refused += outcome.refused;
        if (outcome.live < kPages) {
            const std::string why = std::to_string(outcome.live) + " of " + std::to_string(kPages) +
                                    " pages live, " + std::to_string(outcome.refused) +
                                    " refused; the first: " + outcome.firstRefusal;
            state.SkipWithError(why.c_str());
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(outcome.allLive).count());
        // The next storm meets a host whose streams are all closed.
        const Clock::time_point closing = Clock::now();
        while (host.openStreams() > 0 && Clock::now() - closing < kCrowdPatience) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    state.counters["pages"] = static_cast<double>(kPages);
    state.counters["refused"] = static_cast<double>(refused);
}

}  // namespace

BENCHMARK(HostEventLatency)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(HostEventLatencyWithPages)
    ->UseManualTime()
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PanelsWithPages)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(NameFanOutToPages)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(DatabaseChangeFanOut)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(DatabaseChangeOnDisk)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DatabaseChangeOverApi)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ReconnectStormOfPages)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
