// One notification of each kind delivered to a running panel: its time,
// the events per second, and the allocations and lines each one costs.
// Every record is built once, outside the timed loop, and lent to the
// panel for one call at a time, as a host does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>

#include "AllocationCounter.h"
#include "ControlEvent.h"
#include "MemoryHost.h"
#include "PanelExport.h"
#include "tovi_debug_output.h"
#include "tovi_records.h"

namespace {
// Names as long as a display shows; the keyboard holds one as well.
constexpr std::size_t kNameLength = 16;
constexpr char kTypedName[] = "Camera 37 Wide A";
constexpr char kPanelPath[] = "/srv/panels";
// The take prompt runs this many ticks of timer 2 before it gives up.
constexpr int kTakeTicks = 20;
constexpr int kTakeTimer = 2;

void discardDebugLine(const char*, void*) {}

tovi_revertive_record revertiveRecord(int device, int database, int index, const char* text) {
    tovi_revertive_record record{};
    record.device = device;
    record.database = database;
    record.index = index;
    std::strncpy(record.text, text, tovi_revertive_record::kTextCapacity - 1);
    return record;
}

void* timerWord(int timerId) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(timerId));
}

// A panel after its start-up in a studio of 16-character names, with the
// keyboard and the edit's read-back answering a typed name. Debug lines
// (a commit writes one) are dropped rather than timed on the terminal.
class RunningPanel {
  public:
    RunningPanel() : host_(kNameLength), panel_(load_tovi_client_script(&host_, kPanelPath)) {
        tovi_set_debug_sink(&discardDebugLine, nullptr);
        host_.setControlText("KB_1", kTypedName);
        host_.setControlText("PostEdit", kTypedName);
    }
    ~RunningPanel() {
        delete panel_;
        tovi_set_debug_sink(nullptr, nullptr);
    }
    RunningPanel(const RunningPanel&) = delete;
    RunningPanel& operator=(const RunningPanel&) = delete;

    void* deliver(void* data, int type) { return panel_->deliver(data, type); }
    void deliver(ControlEvent& event) { panel_->deliver(event.record(), tovi_type::kControlEvent); }
    MemoryHost& host() { return host_; }

    // Starts an edit of source 37 and ends its typing, which arms the take
    // prompt.
    void armTakePrompt() {
        deliver(pickSource_);
        deliver(returnKey_);
    }
    void startEdit() { deliver(pickSource_); }

  private:
    MemoryHost host_;
    tovi_client_callback* panel_;
    ControlEvent pickSource_{"2", "SrcName", "selected=37"};
    ControlEvent returnKey_{"2", "KB_1", "key.return"};
};

// Allocations and lines counted over the spans in which events are
// delivered, reported per event.
class EventCounts {
  public:
    explicit EventCounts(MemoryHost& host) : host_(host) {}

    void begin() {
        host_.resetCounts();
        allocationsBefore_ = AllocationCounter::script().allocations;
    }
    void end() {
        allocations_ += AllocationCounter::script().allocations - allocationsBefore_;
        lines_ += host_.lines();
    }
    void report(benchmark::State& state, double events) const {
        state.counters["allocs"] = static_cast<double>(allocations_) / events;
        state.counters["lines"] = static_cast<double>(lines_) / events;
    }

  private:
    MemoryHost& host_;
    std::uint64_t allocationsBefore_ = 0;
    std::uint64_t allocations_ = 0;
    std::uint64_t lines_ = 0;
};

// Delivers one event per iteration with `deliverOne`; the panel is already
// in the state the event expects.
void measure(benchmark::State& state, RunningPanel& panel,
             const std::function<void()>& deliverOne) {
    EventCounts counts(panel.host());
    counts.begin();
    for (auto _ : state) {
        deliverOne();
    }
    counts.end();
    counts.report(state, static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}

void ChoiceButton(benchmark::State& state) {
    RunningPanel panel;
    ControlEvent press("1", "Select_3", "button.pressed");
    measure(state, panel, [&] { panel.deliver(press); });
}

void SourceEdit(benchmark::State& state) {
    RunningPanel panel;
    ControlEvent pick("2", "SrcName", "selected=37");
    measure(state, panel, [&] { panel.deliver(pick); });
}

void Keystroke(benchmark::State& state) {
    RunningPanel panel;
    panel.startEdit();
    ControlEvent key("2", "KB_1", "key.a");
    measure(state, panel, [&] { panel.deliver(key); });
}

void Commit(benchmark::State& state) {
    RunningPanel panel;
    panel.armTakePrompt();
    ControlEvent update("2", "Update", "button.pressed");
    measure(state, panel, [&] { panel.deliver(update); });
}

void Revertive(benchmark::State& state) {
    RunningPanel panel;
    tovi_revertive_record record = revertiveRecord(MemoryHost::kTallyDevice, 0, 212, "3");
    measure(state, panel, [&] { panel.deliver(&record, tovi_type::kRevertive); });
}

void DatabaseChange(benchmark::State& state) {
    RunningPanel panel;
    tovi_revertive_record record =
        revertiveRecord(MemoryHost::kNamesDevice, 5, 37, "Replay Angle Two");
    measure(state, panel, [&] { panel.deliver(&record, tovi_type::kDatabaseChange); });
}

// A property set by the enclosing panel: no answer.
void HostMessageSet(benchmark::State& state) {
    RunningPanel panel;
    char message[] = "myParam=Studio A";
    measure(state, panel, [&] { panel.deliver(message, tovi_type::kHostMessage); });
}

// A property query: the answer comes back and is handed back at once.
void HostMessageQuery(benchmark::State& state) {
    RunningPanel panel;
    char set[] = "myParam=Studio A";
    panel.deliver(set, tovi_type::kHostMessage);
    char query[] = "return=myParam";
    measure(state, panel, [&] {
        void* const answer = panel.deliver(query, tovi_type::kHostMessage);
        panel.deliver(answer, tovi_type::kRelease);
    });
}

// Ticks of timer 2 through one whole take prompt: nineteen flashes and the
// twentieth tick, which cancels the edit. The prompt is armed again between
// rounds, outside the time; the time shown is per tick.
void TimerTick(benchmark::State& state) {
    RunningPanel panel;
    EventCounts counts(panel.host());
    for (auto _ : state) {
        panel.armTakePrompt();
        counts.begin();
        const auto start = std::chrono::steady_clock::now();
        for (int tick = 0; tick < kTakeTicks; ++tick) {
            panel.deliver(timerWord(kTakeTimer), tovi_type::kTimer);
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        counts.end();
        state.SetIterationTime(elapsed.count() / kTakeTicks);
    }
    counts.report(state, static_cast<double>(state.iterations() * kTakeTicks));
    // Each iteration stands for one tick: its time is the round's mean.
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(ChoiceButton);
BENCHMARK(SourceEdit);
BENCHMARK(Keystroke);
BENCHMARK(Commit);
BENCHMARK(Revertive);
BENCHMARK(DatabaseChange);
BENCHMARK(HostMessageSet);
BENCHMARK(HostMessageQuery);
BENCHMARK(TimerTick)->UseManualTime();
