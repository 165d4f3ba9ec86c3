#include "BaselinePanel.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "NamesetEditorConstants.h"

using namespace nameset;

namespace {
// Every start-up line fits; a longer one (a long panel path) is formatted
// again into a buffer of its own size.
constexpr std::size_t kLineBytes = 256;

const char* const kDetailControls[] = {"L1",         "L2",       "L3",      "L4",
                                       "Nameset_id", "LongName", "PreEdit", "PostEdit"};
}  // namespace

BaselinePanel::BaselinePanel(tovi_client_callback* host, const char* path)
    : host_(host), path_(path == nullptr ? "" : path) {
    const char* const folder = path_.c_str();
    const char* const slash = path_.empty() ? "" : "/";
    send("PI '%d' '%s%s%s'", kSelectorPanel, folder, slash, kSelectorLayout);
    send("PI '%d' '%s%s%s'", kEditorPanel, folder, slash, kEditorLayout);
    for (const char* control : kDetailControls) {
        send("CH '%d' '%s'", kEditorPanel, control);
    }
    router_ = findDevice(kRouterName);
    tally_ = findDevice(kTallyName);
    namesDriver_ = findDevice(kNamesDriverName);

    const int sources = NamesetEditor::kSourceCount;
    for (int index = 1; index <= sources; ++index) {
        read(names_[0][index], "RN %d %d %d", router_, kRouterNamesDatabase, index);
    }
    for (int index = 1; index <= sources; ++index) {
        read(names_[1][index], "RN %d %d %d", router_, kRouterSecondDatabase, index);
    }
    for (int set = kFirstEditableSet; set <= kLastEditableSet; ++set) {
        for (int index = 1; index <= sources; ++index) {
            read(names_[set + 1][index], "RN %d %d %d", namesDriver_, set, index);
        }
    }
    for (int set = kFirstEditableSet; set <= kLastEditableSet; ++set) {
        read(titles_[set], "RN %d %d %d", namesDriver_, kTitlesDatabase, set);
    }
    titles_[0] = kMatrixNamesTitle;
    titles_[NamesetEditor::kNamesetCount - 1] = kMvInputNamesTitle;

    send("PS '%d' '%s%s%s'", kSelectorPanel, folder, slash, kSelectorLayout);
    for (int set = kFirstEditableSet; set <= kLastEditableSet; ++set) {
        send("TP 'text=%s' '%d' '%s%d'", titles_[set].c_str(), kSelectorPanel, kTitleLabelPrefix,
             set);
    }
    send("CD '%d' 'KB_1'", kEditorPanel);
    send("TP 'button.001=released' '%d' 'SrcGroup'", kEditorPanel);
    send("TP 'statesheet=%s' '%d' '%s%d'", kSelected, kEditorPanel, kSetButtonPrefix,
         kFirstEditableSet);
    send("TP 'text=%s' '%d' 'NamesetName'", titles_[kFirstEditableSet].c_str(), kEditorPanel);
    send("CD '%d' 'Cancel'", kEditorPanel);
    send("CD '%d' 'Update'", kEditorPanel);
    send("IR %d %d %d", tally_, kBrightnessSlot, kNamesetSlot);
    send("IP %d %d %d", tally_, kBrightnessSlot, kNamesetSlot);
    send("RR %d %d %d", namesDriver_, 1, sources);
}

BaselinePanel::~BaselinePanel() {
    send("IU %d", tally_);
    send("AS");
}

void* BaselinePanel::sendFormatted(const char* format, std::va_list args) {
    char line[kLineBytes];
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    void* result = nullptr;
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line) {
        result = host_->deliver(line, tovi_type::kCommand);
    } else if (length >= 0) {
        std::vector<char> longLine(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(longLine.data(), longLine.size(), format, again);
        result = host_->deliver(longLine.data(), tovi_type::kCommand);
    }
    va_end(again);
    return result;
}

void* BaselinePanel::send(const char* format, ...) {
    if (host_ == nullptr) {
        return nullptr;
    }
    std::va_list args;
    va_start(args, format);
    void* const result = sendFormatted(format, args);
    va_end(args);
    return result;
}

void BaselinePanel::read(std::string& out, const char* format, ...) {
    if (host_ == nullptr) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    void* const answer = sendFormatted(format, args);
    va_end(args);
    if (answer != nullptr) {
        out = static_cast<const char*>(answer);
    }
    host_->deliver(answer, tovi_type::kRelease);
}

int BaselinePanel::findDevice(const char* instanceName) {
    void* const result = send("SD '%s'", instanceName);
    if (result == nullptr) {
        return 0;
    }
    const std::string answer(static_cast<const char*>(result));
    host_->deliver(result, tovi_type::kRelease);
    return std::atoi(answer.c_str());
}
