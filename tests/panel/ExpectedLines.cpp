#include "ExpectedLines.h"

namespace expected {
namespace {
const char* const kSelectors[] = {"SrcGroup",  "SrcName",   "Nameset_Select", "NameSet_1",
                                  "NameSet_2", "NameSet_3", "NameSet_4",      "NameSet_5",
                                  "NameSet_6", "NameSet_7", "NameSet_8",      "NamesetName"};
const char* const kCommitOrder[] = {"SrcGroup",  "SrcName",   "Nameset_Select", "NamesetName",
                                    "NameSet_1", "NameSet_2", "NameSet_3",      "NameSet_4",
                                    "NameSet_5", "NameSet_6", "NameSet_7",      "NameSet_8"};
const char* const kDetails[] = {"L1",         "L2",       "L3",      "L4",
                                "Nameset_id", "LongName", "PreEdit", "PostEdit"};
const char* const kCleared[] = {"Nameset_id", "LongName", "PreEdit", "PostEdit", "KB_1"};

template <std::size_t kCount>
Lines onEditor(const std::string& word, const char* const (&controls)[kCount]) {
    Lines lines;
    for (const char* name : controls) {
        lines.push_back(control(word, "2", name));
    }
    return lines;
}
}  // namespace

const char kReadKeyboard[] = "TG '2' 'KB_1' 'text'";
const char kReadPostEdit[] = "TG '2' 'PostEdit' 'text'";

std::string put(const std::string& assignment, const std::string& panel,
                const std::string& control) {
    return "TP '" + assignment + "' '" + panel + "' '" + control + "'";
}

std::string control(const std::string& word, const std::string& panel, const std::string& control) {
    return word + " '" + panel + "' '" + control + "'";
}

Lines disableSelectors() {
    return onEditor("CD", kSelectors);
}
Lines enableSelectors() {
    return onEditor("CE", kSelectors);
}
Lines enableAfterCommit() {
    return onEditor("CE", kCommitOrder);
}
Lines showDetails() {
    return onEditor("CS", kDetails);
}
Lines hideDetails() {
    return onEditor("CH", kDetails);
}

Lines sourceEdit(int set, const std::string& routerName, const std::string& name) {
    return concat({disableSelectors(),
                   showDetails(),
                   {put("text=" + std::to_string(set), "2", "Nameset_id"),
                    put("text=" + routerName, "2", "LongName"), put("text=" + name, "2", "PreEdit"),
                    put("text=", "2", "PostEdit"), put("text=" + name, "2", "KB_1"),
                    control("CE", "2", "KB_1")}});
}

Lines takePrompt(const std::string& text) {
    return {put("text=" + text, "2", "KB_1"),
            put("text=" + text, "2", "PostEdit"),
            control("CD", "2", "KB_1"),
            control("CE", "2", "Cancel"),
            control("CE", "2", "Update"),
            put("statesheet=ZR_TakeLow", "2", "Cancel"),
            put("statesheet=ZR_TakeHigh", "2", "Update"),
            "ET 2 500"};
}

Lines cancelEdit() {
    Lines cleared;
    for (const char* name : kCleared) {
        cleared.push_back(put("text=", "2", name));
    }
    return concat({{"ET 2"},
                   cleared,
                   {control("CD", "2", "Cancel"), control("CD", "2", "Update")},
                   enableSelectors(),
                   {put("index=0", "2", "SrcName")},
                   hideDetails()});
}

Lines takeTick(int countLeft) {
    const bool odd = countLeft % 2 != 0;
    return {put(odd ? "statesheet=ZR_TakeHigh" : "statesheet=ZR_TakeLow", "2", "Cancel"),
            put(odd ? "statesheet=ZR_TakeLow" : "statesheet=ZR_TakeHigh", "2", "Update")};
}

Lines commitSource(const std::string& line) {
    return concat({{"ET 2", control("CD", "2", "Cancel"), control("CD", "2", "Update"),
                    kReadPostEdit, put("text=", "2", "KB_1"), line},
                   hideDetails(),
                   {put("index=0", "2", "SrcName")},
                   enableAfterCommit()});
}

Lines commitTitle(const std::string& text, const std::string& line) {
    return concat(
        {{"ET 2", control("CD", "2", "Cancel"), control("CD", "2", "Update"), kReadPostEdit,
          put("text=", "2", "KB_1"), put("text=" + text, "2", "NamesetName"), line},
         enableAfterCommit()});
}

}  // namespace expected
