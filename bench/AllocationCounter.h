#pragma once

#include <cstddef>
#include <cstdint>

// Heap use as seen by the replaced global allocation operators of a program
// that links AllocationHooks.cpp; without them every count stays zero.
//
// Blocks are charged to the script or, while a HostScope lives, to the host,
// so that a measurement of the script can leave the host's own use out.
// Live bytes are the allocator's usable sizes, the memory a block really
// holds. Every thread counts for itself and reads its own counts, so a
// measurement sees only the blocks its own thread made and freed.
class AllocationCounter {
  public:
    struct Counts {
        std::uint64_t allocations;
        std::int64_t liveBlocks;
        std::int64_t liveBytes;
    };

    // Marks the host's answer path: blocks allocated or released while one
    // lives are the host's. Scopes nest.
    class HostScope {
      public:
        HostScope() noexcept { ++hostDepth_; }
        ~HostScope() { --hostDepth_; }
        HostScope(const HostScope&) = delete;
        HostScope& operator=(const HostScope&) = delete;
    };

    static const Counts& script() noexcept { return script_; }
    static const Counts& host() noexcept { return host_; }

    // Called by the hooks only.
    static void allocated(std::size_t usableBytes) noexcept {
        Counts& counts = hostDepth_ > 0 ? host_ : script_;
        ++counts.allocations;
        ++counts.liveBlocks;
        counts.liveBytes += static_cast<std::int64_t>(usableBytes);
    }
    static void released(std::size_t usableBytes) noexcept {
        Counts& counts = hostDepth_ > 0 ? host_ : script_;
        --counts.liveBlocks;
        counts.liveBytes -= static_cast<std::int64_t>(usableBytes);
    }

  private:
    static inline thread_local Counts script_{};
    static inline thread_local Counts host_{};
    static inline thread_local int hostDepth_ = 0;
};
