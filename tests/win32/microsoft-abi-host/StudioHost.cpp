#include "StudioHost.h"

#include "Runtime.h"

namespace {
// Any non-null address is the truth of a panel command.
char gTruth;

// The studio's name databases: the router's databases 0 and 2, the user name
// sets 1 to 8 of the names infodriver and their titles in its database 9.
constexpr int kSources = 128;
constexpr int kUserSets = 8;
constexpr int kTitleDatabase = 9;
constexpr int kNameBytes = 32;

bool hasWord(const char* line, const char* word) {
    return strncmp(line, word, 2) == 0 && line[2] == ' ';
}
}  // namespace

StudioHost::StudioHost() : lines_(static_cast<char*>(malloc(kMaxLines * kLineBytes))) {}

StudioHost::~StudioHost() {
    free(lines_);
}

void* StudioHost::deliver(void* data, int type) {
    if (type == notify::kCommand) {
        return command(static_cast<const char*>(data));
    }
    if (type == notify::kRelease) {
        release(data);
        return nullptr;
    }
    char typeText[16];
    sprintf(typeText, "%d", type);
    fault("the plugin called the host with type", typeText);
    return nullptr;
}

void StudioHost::holdProperty(const char* panel, const char* control, const char* property,
                              const char* value) {
    char request[kPropertyBytes];
    sprintf(request, "TG '%s' '%s' '%s'", panel, control, property);
    int slot = 0;
    while (slot < propertyCount_ && strcmp(properties_[slot][0], request) != 0) {
        ++slot;
    }
    if (slot == kMaxProperties) {
        fault("no room for one more property:", request);
        return;
    }
    propertyCount_ = slot == propertyCount_ ? propertyCount_ + 1 : propertyCount_;
    memcpy(properties_[slot][0], request, strlen(request) + 1);
    sprintf(properties_[slot][1], "%s=%s", property, value);
}

const char* StudioHost::line(int position) const {
    return position >= 0 && position < lineCount_ ? lines_ + position * kLineBytes : "";
}

int StudioHost::faults() const {
    return faults_ + (outstanding_ != nullptr || nullHandBackDue_ ? 1 : 0);
}

void* StudioHost::command(const char* line) {
    if (line == nullptr) {
        fault("the plugin sent a null command line", "");
        return nullptr;
    }
    if (outstanding_ != nullptr) {
        fault("an answer was still out when the plugin sent", line);
        free(outstanding_);
        outstanding_ = nullptr;
    }
    if (nullHandBackDue_) {
        fault("a null answer was not handed back before", line);
        nullHandBackDue_ = false;
    }
    if (lineCount_ == kMaxLines || strlen(line) >= static_cast<size_t>(kLineBytes)) {
        fault("no room to log", line);
    } else {
        memcpy(lines_ + lineCount_ * kLineBytes, line, strlen(line) + 1);
        ++lineCount_;
    }

    if (hasWord(line, "PI") || hasWord(line, "PS") || hasWord(line, "PR")) {
        return &gTruth;
    }
    void* answer = answerFor(line);
    if (answer != nullptr) {
        outstanding_ = answer;
        ++answers_;
    } else if (hasWord(line, "RN")) {
        nullHandBackDue_ = true;
    }
    return answer;
}

void* StudioHost::answerFor(const char* line) {
    if (strcmp(line, "SD 'StC SDI Router'") == 0) {
        return allocated("3");
    }
    if (strcmp(line, "SD 'CTA Tally Infodriver'") == 0) {
        return allocated("57");
    }
    if (strcmp(line, "SD 'StC_UMD_Names_DriverID'") == 0) {
        return allocated("12");
    }
    if (hasWord(line, "RN")) {
        return nameFor(line);
    }
    if (hasWord(line, "TG")) {
        return propertyFor(line);
    }
    if (hasWord(line, "XI")) {
        // The panels carry no alarm controls: an empty list.
        return allocated("");
    }
    return nullptr;
}

void* StudioHost::nameFor(const char* line) {
    int device = 0;
    int database = 0;
    int index = 0;
    if (sscanf(line, "RN %d %d %d", &device, &database, &index) != 3) {
        return nullptr;
    }
    char name[kNameBytes];
    if (device == kRouter && (database == 0 || database == 2) && index >= 1 && index <= kSources) {
        sprintf(name, database == 0 ? "Router %d" : "Second %d", index);
    } else if (device == kNames && database >= 1 && database <= kUserSets && index >= 1 &&
               index <= kSources) {
        sprintf(name, "Set%d Src%d", database, index);
    } else if (device == kNames && database == kTitleDatabase && index >= 1 && index <= kUserSets) {
        sprintf(name, "Studio %d", index);
    } else {
        return nullptr;
    }
    return allocated(name);
}

void* StudioHost::propertyFor(const char* line) {
    for (int slot = 0; slot < propertyCount_; ++slot) {
        if (strcmp(properties_[slot][0], line) == 0) {
            return allocated(properties_[slot][1]);
        }
    }
    return nullptr;
}

void* StudioHost::allocated(const char* text) {
    const size_t bytes = strlen(text) + 1;
    void* block = malloc(bytes);
    memcpy(block, text, bytes);
    return block;
}

void StudioHost::release(void* answer) {
    if (answer != nullptr && answer == outstanding_) {
        free(outstanding_);
        outstanding_ = nullptr;
        ++handBacks_;
    } else if (answer == nullptr && nullHandBackDue_) {
        nullHandBackDue_ = false;
        ++handBacks_;
    } else {
        fault(answer == nullptr ? "a null pointer was handed back unasked"
                                : "a pointer the host never answered was handed back",
              "");
    }
}

void StudioHost::fault(const char* what, const char* line) {
    ++faults_;
    printf("FAULT: %s %s\n", what, line);
}
