// Start-up and shut-down of one panel instance: its time, its allocations,
// and its time against the plain baseline of the same lines.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <memory>

#include "AllocationCounter.h"
#include "BaselinePanel.h"
#include "MemoryHost.h"
#include "NamesetEditor.h"
#include "PanelExport.h"

namespace {
// A layout folder short enough to stay inline, as a studio's usually is.
constexpr char kPanelPath[] = "/srv/panels";

// The most memory one instance may hold.
constexpr double kMemoryGoalBytes = 48 * 1024;

// The processor time of this thread, in seconds: other programs on the
// machine take turns with it but do not add to it.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::unique_ptr<MemoryHost> studio(const benchmark::State& state) {
    return std::make_unique<MemoryHost>(static_cast<std::size_t>(state.range(0)));
}

// Figures per instance, from counts taken over the whole run.
void reportPerInstance(benchmark::State& state, const char* name, double total) {
    state.counters[name] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}

// One panel made through the export and destroyed, as a host does it.
void Startup(benchmark::State& state) {
    const auto host = studio(state);
    const std::uint64_t allocations = AllocationCounter::script().allocations;
    const std::uint64_t hostAllocations = AllocationCounter::host().allocations;
    for (auto _ : state) {
        tovi_client_callback* panel = load_tovi_client_script(host.get(), kPanelPath);
        benchmark::DoNotOptimize(panel);
        delete panel;
    }
    reportPerInstance(state, "allocs",
                      static_cast<double>(AllocationCounter::script().allocations - allocations));
    reportPerInstance(state, "host_allocs",
                      static_cast<double>(AllocationCounter::host().allocations - hostAllocations));
    reportPerInstance(state, "lines", static_cast<double>(host->lines()));
    reportPerInstance(state, "answers", static_cast<double>(host->textAnswers()));
    state.SetItemsProcessed(state.iterations());
}

// The digest of the lines that `run` makes the host see.
template <typename Run>
std::uint64_t linesOf(MemoryHost& host, Run run) {
    host.resetCounts();
    host.setDigesting(true);
    run();
    host.setDigesting(false);
    return host.digest();
}

// The panel and the baseline, interleaved so that drift of the machine
// hits both alike, each first in every other round, both timed in this
// thread's processor time. The time shown is the panel's; "ratio" is the
// panel's total time over the baseline's.
void StartupVersusBaseline(benchmark::State& state) {
    const auto host = studio(state);
    const auto runPanel = [&host] { delete load_tovi_client_script(host.get(), kPanelPath); };
    // Made on the heap like a panel instance, so both pay for a large block.
    const auto runBaseline = [&host] { delete new BaselinePanel(host.get(), kPanelPath); };
    if (linesOf(*host, runPanel) != linesOf(*host, runBaseline)) {
        state.SkipWithError("the baseline does not send the panel's lines");
        return;
    }

    double panelSeconds = 0;
    double baselineSeconds = 0;
    std::uint64_t panelAllocations = 0;
    std::uint64_t baselineAllocations = 0;
    const auto timed = [](auto run, double& seconds, std::uint64_t& allocations) {
        const std::uint64_t before = AllocationCounter::script().allocations;
        const double start = threadSeconds();
        run();
        const double elapsed = threadSeconds() - start;
        allocations += AllocationCounter::script().allocations - before;
        seconds += elapsed;
        return elapsed;
    };
    bool panelFirst = true;
    for (auto _ : state) {
        double elapsed = 0;
        if (panelFirst) {
            elapsed = timed(runPanel, panelSeconds, panelAllocations);
            timed(runBaseline, baselineSeconds, baselineAllocations);
        } else {
            timed(runBaseline, baselineSeconds, baselineAllocations);
            elapsed = timed(runPanel, panelSeconds, panelAllocations);
        }
        state.SetIterationTime(elapsed);
        panelFirst = !panelFirst;
    }
    reportPerInstance(state, "baseline_us", baselineSeconds * 1e6);
    reportPerInstance(state, "allocs", static_cast<double>(panelAllocations));
    reportPerInstance(state, "baseline_allocs", static_cast<double>(baselineAllocations));
    state.counters["ratio"] = panelSeconds / baselineSeconds;
}

// The bytes one running instance holds: the object and every heap block it
// owns, as the allocator sizes them; the host's own blocks are not counted.
void PanelMemory(benchmark::State& state) {
    const auto host = studio(state);
    std::int64_t bytes = 0;
    std::int64_t blocks = 0;
    for (auto _ : state) {
        const AllocationCounter::Counts before = AllocationCounter::script();
        tovi_client_callback* panel = load_tovi_client_script(host.get(), kPanelPath);
        const AllocationCounter::Counts after = AllocationCounter::script();
        delete panel;
        bytes = after.liveBytes - before.liveBytes;
        blocks = after.liveBlocks - before.liveBlocks;
    }
    state.counters["bytes"] = benchmark::Counter(
        static_cast<double>(bytes), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    state.counters["object_bytes"] = static_cast<double>(sizeof(NamesetEditor));
    state.counters["blocks"] = static_cast<double>(blocks);
    state.counters["of_goal"] = static_cast<double>(bytes) / kMemoryGoalBytes;
}

// Name lengths of the studios: 12 fits every inline storage, 16 is the
// longest name a display shows, 24 fits neither string's inline storage.
void nameLengths(benchmark::internal::Benchmark* bench) {
    bench->ArgName("names")->Arg(12)->Arg(16)->Arg(24);
}

}  // namespace

BENCHMARK(Startup)->Apply(nameLengths)->Unit(benchmark::kMicrosecond);
BENCHMARK(StartupVersusBaseline)
    ->Apply(nameLengths)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PanelMemory)->Apply(nameLengths)->Unit(benchmark::kMicrosecond);
