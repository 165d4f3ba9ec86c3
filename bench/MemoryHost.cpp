#include "MemoryHost.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "AllocationCounter.h"

namespace {
// FNV-1a, 64 bits: enough to tell two line sequences apart.
constexpr std::uint64_t kDigestBasis = 14695981039346656037ull;
constexpr std::uint64_t kDigestPrime = 1099511628211ull;

// The databases the panel reads: the router's own names and its second
// list, and the names infodriver's eight name sets and their titles.
constexpr int kRouterNamesDatabase = 0;
constexpr int kRouterSecondDatabase = 2;
constexpr int kFirstNamesDatabase = 1;
constexpr int kTitlesDatabase = 9;
// No device, database or index reaches this; a longer number has no answer.
constexpr long kNumberLimit = 1000000000;

// Filler the studio's names are cut from, after a prefix that makes each
// one differ.
constexpr char kFiller[] = "Camera Wide Shot Studio Left Gallery Feed Playout Edit Suite Rack ";

const char* const kDeviceNames[] = {"StC SDI Router", "CTA Tally Infodriver",
                                    "StC_UMD_Names_DriverID"};
const int kDeviceNumbers[] = {MemoryHost::kRouterDevice, MemoryHost::kTallyDevice,
                              MemoryHost::kNamesDevice};

bool startsWith(const char* text, const char* prefix) noexcept {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Reads a decimal number (optionally negative) and the blanks after it;
// false when there is no digit or the number reaches kNumberLimit.
bool readNumber(const char*& p, int& value) noexcept {
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude >= kNumberLimit) {
            return false;
        }
    }
    value = static_cast<int>(negative ? -magnitude : magnitude);
    while (*p == ' ') {
        ++p;
    }
    return true;
}

// Copies the next quoted field ('...' and the blank after it) into `out`;
// false when the line holds none or it does not fit.
bool readQuoted(const char*& p, char* out, std::size_t outBytes) noexcept {
    if (*p != '\'') {
        return false;
    }
    const char* const end = std::strchr(p + 1, '\'');
    if (end == nullptr || static_cast<std::size_t>(end - p - 1) >= outBytes) {
        return false;
    }
    const std::size_t length = static_cast<std::size_t>(end - p - 1);
    std::memcpy(out, p + 1, length);
    out[length] = '\0';
    p = *(end + 1) == ' ' ? end + 2 : end + 1;
    return true;
}
}  // namespace

MemoryHost::MemoryHost(std::size_t nameLength) : names_{}, digest_(kDigestBasis) {
    if (nameLength == 0 || nameLength > kMaxTextLength) {
        throw std::invalid_argument("MemoryHost: a name length must be 1 to 64");
    }
    for (int table = 0; table < kTables; ++table) {
        for (int index = 1; index < kEntries; ++index) {
            char* const name = names_[table][index];
            const int prefix = std::snprintf(name, kTextBytes, "%d-%d ", table, index);
            for (std::size_t i = static_cast<std::size_t>(prefix); i < nameLength; ++i) {
                name[i] = kFiller[i % (sizeof kFiller - 1)];
            }
            name[nameLength] = '\0';
        }
    }
    for (int device = 0; device < kDevices; ++device) {
        std::snprintf(devices_[device].line, kDeviceLineBytes, "SD '%s'", kDeviceNames[device]);
        std::snprintf(devices_[device].answer, kDeviceAnswerBytes, "%d", kDeviceNumbers[device]);
    }
}

void MemoryHost::setControlText(const char* control, const char* text) {
    if (std::strlen(control) >= kControlNameBytes || std::strlen(text) > kMaxTextLength) {
        throw std::invalid_argument("MemoryHost: control name or text too long");
    }
    ControlText* entry = nullptr;
    for (int i = 0; i < controlTextCount_; ++i) {
        if (std::strcmp(controlTexts_[i].control, control) == 0) {
            entry = &controlTexts_[i];
        }
    }
    if (entry == nullptr) {
        if (controlTextCount_ == kControlTexts) {
            throw std::length_error("MemoryHost: too many control texts");
        }
        entry = &controlTexts_[controlTextCount_++];
    }
    std::snprintf(entry->control, kControlNameBytes, "%s", control);
    std::snprintf(entry->answer, kPropertyAnswerBytes, "text=%s", text);
}

const char* MemoryHost::name(int device, int database, int index) const {
    const int table = tableOf(device, database);
    if (table < 0 || index < 1 || index >= kEntries) {
        return nullptr;
    }
    return names_[table][index];
}

void MemoryHost::resetCounts() {
    lines_ = 0;
    textAnswers_ = 0;
    handBacks_ = 0;
    digest_ = kDigestBasis;
}

void* MemoryHost::deliver(void* data, int type) {
    const AllocationCounter::HostScope scope;
    if (type == tovi_type::kRelease) {
        ++handBacks_;
        return nullptr;
    }
    if (type != tovi_type::kCommand || data == nullptr) {
        return nullptr;
    }
    char* const line = static_cast<char*>(data);
    ++lines_;
    if (digesting_) {
        feedDigest(line);
    }
    void* const result = answer(line);
    if (result != nullptr && result != &truth_) {
        ++textAnswers_;
    }
    return result;
}

void* MemoryHost::answer(char* line) {
    if (startsWith(line, "RN ")) {
        return answerName(line + 3);
    }
    if (startsWith(line, "SD ")) {
        return answerDevice(line);
    }
    if (startsWith(line, "TG ")) {
        return answerProperty(line + 3);
    }
    if (startsWith(line, "PI ") || startsWith(line, "PS ") || startsWith(line, "PR ")) {
        return &truth_;
    }
    return nullptr;
}

void* MemoryHost::answerName(const char* fields) {
    int device = 0;
    int database = 0;
    int index = 0;
    if (!readNumber(fields, device) || !readNumber(fields, database) ||
        !readNumber(fields, index)) {
        return nullptr;
    }
    const int table = tableOf(device, database);
    if (table < 0 || index < 1 || index >= kEntries) {
        return nullptr;
    }
    return names_[table][index];
}

void* MemoryHost::answerDevice(const char* line) {
    for (DeviceAnswer& device : devices_) {
        if (std::strcmp(line, device.line) == 0) {
            return device.answer;
        }
    }
    return nullptr;
}

void* MemoryHost::answerProperty(const char* fields) {
    char panel[kControlNameBytes];
    char control[kControlNameBytes];
    char property[kControlNameBytes];
    if (!readQuoted(fields, panel, sizeof panel) || !readQuoted(fields, control, sizeof control) ||
        !readQuoted(fields, property, sizeof property) || std::strcmp(property, "text") != 0) {
        return nullptr;
    }
    for (int i = 0; i < controlTextCount_; ++i) {
        if (std::strcmp(controlTexts_[i].control, control) == 0) {
            return controlTexts_[i].answer;
        }
    }
    return nullptr;
}

void MemoryHost::feedDigest(const char* line) noexcept {
    std::uint64_t hash = digest_;
    for (const char* p = line;; ++p) {
        // The NUL ends each line in the digest too, so lines cannot run together.
        hash = (hash ^ static_cast<unsigned char>(*p)) * kDigestPrime;
        if (*p == '\0') {
            break;
        }
    }
    digest_ = hash;
}

int MemoryHost::tableOf(int device, int database) noexcept {
    if (device == kRouterDevice) {
        return database == kRouterNamesDatabase ? 0 : database == kRouterSecondDatabase ? 1 : -1;
    }
    if (device == kNamesDevice && database >= kFirstNamesDatabase && database <= kTitlesDatabase) {
        return database - kFirstNamesDatabase + 2;
    }
    return -1;
}
