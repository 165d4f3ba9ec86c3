#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace panelhost {

// Bookkeeping of the text answers the host hands to scripts ("SD", "XI",
// "RN", "TG"). Every answer is a buffer the ledger owns until the script
// hands it back with type 5; the ledger tells a proper hand-back from one of
// an unknown pointer or a second hand-back, and never frees a buffer twice.
class AnswerLedger {
  public:
    enum class Release { Released, Unknown, AlreadyReleased };

    // An answer still outstanding: who got it and for which command.
    struct Outstanding {
        int instance;
        std::string command;
    };

    // Copies `text` into a new buffer owned by the ledger and returns it; the
    // buffer stays valid until it is released or reclaimed.
    char* issue(int instance, std::string_view text, std::string_view command);

    // A script hands `answer` back. Frees it only when it is outstanding.
    Release release(const void* answer);

    // Answers of `instance` still outstanding that have not been reported
    // yet; each is reported once. They stay valid.
    std::vector<Outstanding> takeUnreported(int instance);

    // Frees every answer of `instance` still outstanding and returns them: a
    // script must have handed its answers back by the time its call returns.
    std::vector<Outstanding> reclaim(int instance);

    std::size_t outstandingCount() const { return outstanding_.size(); }

  private:
    struct Entry {
        std::unique_ptr<char[]> buffer;
        Outstanding owner;
        bool reported;
    };

    // How many released addresses are remembered to recognise a second
    // hand-back; older ones are reported as unknown pointers.
    static constexpr std::size_t kRememberedReleases = 4096;

    void remember(const void* answer);

    std::unordered_map<const void*, Entry> outstanding_;
    // Released addresses with the number of their latest release, and the
    // releases in order, so that forgetting the oldest release never forgets
    // a later release of the same address.
    std::unordered_map<const void*, std::size_t> released_;
    std::deque<std::pair<const void*, std::size_t>> releaseOrder_;
    std::size_t releaseCount_ = 0;
};

}  // namespace panelhost
