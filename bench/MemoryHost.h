#pragma once

#include <cstddef>
#include <cstdint>

#include "tovi_client_callback.h"

// A panel host that answers from memory at once, so that a measurement sees
// the script's own cost. Every answer is a text prepared beforehand and
// found from the line's fields alone: the answer path makes no allocation,
// which the host proves by running it inside an AllocationCounter::HostScope.
//
// It reads lines itself, not with the host's parser: that one allocates.
// The studio it plays knows the three devices the panel looks up and holds
// every name and title a start-up reads; a line it has no answer for gets
// null, as from a real host.
class MemoryHost : public tovi_client_callback {
  public:
    static constexpr int kRouterDevice = 3;
    static constexpr int kTallyDevice = 57;
    static constexpr int kNamesDevice = 12;
    // Longest name or control text the studio holds.
    static constexpr std::size_t kMaxTextLength = 64;

    // A studio in which every name and title is `nameLength` characters long
    // (1 to kMaxTextLength).
    explicit MemoryHost(std::size_t nameLength);

    void* deliver(void* data, int type) override;

    // The host answers the script's read of the property "text" of `control`
    // on any panel with `text` (at most kMaxTextLength characters). A
    // control never set is answered with null.
    void setControlText(const char* control, const char* text);
    // The studio's entry for a name read, or null when it holds none.
    const char* name(int device, int database, int index) const;

    // What the host has seen since the last resetCounts().
    std::uint64_t lines() const { return lines_; }
    std::uint64_t textAnswers() const { return textAnswers_; }
    std::uint64_t handBacks() const { return handBacks_; }
    void resetCounts();
    // While on, every line also feeds a digest of the whole sequence, to
    // check that two scripts sent the same lines. Off by default: it costs
    // time on every line.
    void setDigesting(bool on) { digesting_ = on; }
    std::uint64_t digest() const { return digest_; }

  private:
    // The router's databases 0 and 2, the names infodriver's 1 to 9.
    static constexpr int kTables = 11;
    static constexpr int kEntries = 129;
    static constexpr int kControlTexts = 4;
    static constexpr std::size_t kControlNameBytes = 32;
    static constexpr std::size_t kTextBytes = kMaxTextLength + 1;
    // "text=" in front of the control's text.
    static constexpr std::size_t kPropertyAnswerBytes = 5 + kTextBytes;
    static constexpr int kDevices = 3;
    static constexpr std::size_t kDeviceLineBytes = 32;
    static constexpr std::size_t kDeviceAnswerBytes = 12;

    struct ControlText {
        char control[kControlNameBytes];
        char answer[kPropertyAnswerBytes];
    };
    struct DeviceAnswer {
        char line[kDeviceLineBytes];
        char answer[kDeviceAnswerBytes];
    };

    void* answer(char* line);
    void* answerName(const char* fields);
    void* answerDevice(const char* line);
    void* answerProperty(const char* fields);
    void feedDigest(const char* line) noexcept;
    // The table of device/database, or -1.
    static int tableOf(int device, int database) noexcept;

    char names_[kTables][kEntries][kTextBytes];
    ControlText controlTexts_[kControlTexts] = {};
    int controlTextCount_ = 0;
    DeviceAnswer devices_[kDevices] = {};
    // Any non-null address is the truth of a panel command.
    char truth_ = 1;
    std::uint64_t lines_ = 0;
    std::uint64_t textAnswers_ = 0;
    std::uint64_t handBacks_ = 0;
    bool digesting_ = false;
    std::uint64_t digest_;
};
