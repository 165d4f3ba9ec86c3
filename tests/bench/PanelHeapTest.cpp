// The panel's heap goals, counted by the replaced allocation operators: a
// start-up allocates the object and one copy per host answer that does not
// fit a string's inline storage, an instance holds at most 48 KiB, control
// events, revertives, database changes and ticks allocate nothing for names
// of up to 16 characters, and the host's answer path allocates nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "AllocationCounter.h"
#include "ControlEvent.h"
#include "MemoryHost.h"
#include "PanelExport.h"
#include "tovi_debug_output.h"

namespace {
constexpr char kPath[] = "/srv/panels";
// The object itself and the parse of the three device lookups' answers.
constexpr std::uint64_t kFixedStartupAllocations = 4;
constexpr int kNameReads = 1288;
constexpr std::int64_t kMemoryGoalBytes = 48 * 1024;

void discardDebugLine(const char*, void*) {}

// Allocations of the script and of the host while `run` runs.
template <typename Run>
std::pair<std::uint64_t, std::uint64_t> allocationsOf(Run run) {
    const std::uint64_t script = AllocationCounter::script().allocations;
    const std::uint64_t host = AllocationCounter::host().allocations;
    run();
    return {AllocationCounter::script().allocations - script,
            AllocationCounter::host().allocations - host};
}

TEST(PanelHeap, AStartUpOfShortNamesAllocatesTheObjectAndTheDeviceAnswersOnly) {
    for (const std::size_t length : {1u, 12u, 16u, 22u}) {
        MemoryHost studio(length);
        tovi_client_callback* panel = nullptr;
        const auto [script, host] =
            allocationsOf([&] { panel = load_tovi_client_script(&studio, kPath); });
        EXPECT_EQ(script, kFixedStartupAllocations) << length << " characters";
        EXPECT_EQ(host, 0u);
        delete panel;
    }
}

TEST(PanelHeap, LongNamesAreCopiedOnceEach) {
    MemoryHost studio(23);
    const auto [script, host] =
        allocationsOf([&] { delete load_tovi_client_script(&studio, kPath); });
    EXPECT_EQ(script, kFixedStartupAllocations + kNameReads);
    EXPECT_EQ(host, 0u);
}

TEST(PanelHeap, AnInstanceHoldsOneBlockWithinTheGoalAndReturnsItAll) {
    MemoryHost studio(16);
    const AllocationCounter::Counts before = AllocationCounter::script();
    tovi_client_callback* panel = load_tovi_client_script(&studio, kPath);
    const AllocationCounter::Counts running = AllocationCounter::script();
    delete panel;
    const AllocationCounter::Counts after = AllocationCounter::script();
    EXPECT_EQ(running.liveBlocks - before.liveBlocks, 1);
    EXPECT_LE(running.liveBytes - before.liveBytes, kMemoryGoalBytes);
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.liveBytes, before.liveBytes);
}

TEST(PanelHeap, NotificationsOfShortNamesAllocateNothing) {
    tovi_set_debug_sink(&discardDebugLine, nullptr);
    MemoryHost studio(16);
    studio.setControlText("KB_1", "Camera 37 Wide A");
    studio.setControlText("PostEdit", "Camera 37 Wide A");
    tovi_client_callback* panel = load_tovi_client_script(&studio, kPath);
    ControlEvent events[] = {
        {"1", "Select_3", "button.pressed"}, {"1", "UMDBright_2", "button.pressed"},
        {"1", "Confirm", "button.pressed"},  {"2", "NameSet_5", "button.pressed"},
        {"2", "SrcName", "selected=37"},     {"2", "KB_1", "key.a"},
        {"2", "KB_1", "key.return"},         {"2", "Update", "button.pressed"}};
    tovi_revertive_record slot{};
    slot.device = MemoryHost::kTallyDevice;
    slot.index = 212;
    std::strcpy(slot.text, "3");
    tovi_revertive_record change{};
    change.device = MemoryHost::kNamesDevice;
    change.database = 5;
    change.index = 37;
    std::strcpy(change.text, "Replay Angle Two");

    const auto [script, host] = allocationsOf([&] {
        for (ControlEvent& event : events) {
            panel->deliver(event.record(), tovi_type::kControlEvent);
        }
        panel->deliver(&slot, tovi_type::kRevertive);
        panel->deliver(&change, tovi_type::kDatabaseChange);
        for (int tick = 0; tick < 20; ++tick) {
            panel->deliver(reinterpret_cast<void*>(std::intptr_t{2}), tovi_type::kTimer);
        }
    });
    EXPECT_EQ(script, 0u);
    EXPECT_EQ(host, 0u);
    // The events reached the panel: a source edit alone sends 26 lines.
    EXPECT_GT(studio.lines(), 1321u + 26u);
    delete panel;
    tovi_set_debug_sink(nullptr, nullptr);
}

}  // namespace
