// The shared alarm buttons: set or acknowledge every alarm indicator of
// panel 1 at once.
#include "tovi_command_line.h"
#include "tovi_script_helper.h"

namespace {
const char kAlarmPanel[] = "1";
const char kIndicatorPrefix[] = "alm_";
const char kAcknowledged[] = "4";
// Modes derived from the action text.
constexpr int kModeAcknowledge = 4;
constexpr int kModeNone = -1;
// Indicator states an acknowledgement leaves alone.
constexpr int kLowestKeptState = 0;
constexpr int kHighestKeptState = 5;
constexpr int kUnacknowledgedState = 1;

int alarmMode(const tovi_string& action) {
    if (action == "ack") {
        return kModeAcknowledge;
    }
    return action.length() == 1 ? action.toInt() : kModeNone;
}
}  // namespace

tovi_stringlist tovi_script_helper::listControls(const tovi_string& panel,
                                                 const tovi_string& prefix) {
    if (host == nullptr) {
        return tovi_stringlist();
    }
    tovi_command_line<kTextLineBytes> line;
    line << "XI '" << panel << "' '" << prefix << "'";
    void* const answer = send(line.text());
    if (answer == nullptr) {
        return tovi_stringlist();
    }
    tovi_stringlist controls(static_cast<const char*>(answer), ',');
    handBack(answer);
    return controls;
}

void tovi_script_helper::alarmAll(const tovi_string& action) {
    const int mode = alarmMode(action);
    tovi_stringlist indicators = listControls(kAlarmPanel, kIndicatorPrefix);
    for (const tovi_string& control : indicators) {
        putProperty("alarm", action, kAlarmPanel, control);
        if (mode == kModeAcknowledge) {
            tovi_string state;
            textGet("value", kAlarmPanel, control, state);
            const int value = state.toInt();
            if (value == kUnacknowledgedState || value < kLowestKeptState ||
                value > kHighestKeptState) {
                putProperty("value", kAcknowledged, kAlarmPanel, control);
            }
        } else if (mode != kModeNone) {
            putProperty("value", tovi_string(mode, '\0', 0, 10), kAlarmPanel, control);
        }
    }
}
