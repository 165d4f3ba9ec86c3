#include "PanelExerciser.h"

#include <cstring>
#include <string>

#include "ScriptDriver.h"

extern "C" tovi_client_callback* load_tovi_client_script(tovi_client_callback* host,
                                                         const char* path);

namespace {

// Reads choices from the input; past its end every choice is 0.
class ByteSource {
  public:
    ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return at_ >= size_; }
    unsigned byte() { return at_ < size_ ? data_[at_++] : 0u; }
    // A number in [low, high].
    int number(int low, int high) {
        const unsigned span = static_cast<unsigned>(high - low) + 1u;
        return low + static_cast<int>(((byte() << 8) | byte()) % span);
    }
    template <std::size_t N>
    const char* pick(const char* const (&choices)[N]) {
        return choices[byte() % N];
    }
    // A short text, mostly of characters that mean something to a parser.
    std::string text(unsigned maxLength) {
        static const char kAlphabet[] = "aZ09 '.=%1%5-_\t\"";
        const unsigned length = byte() % (maxLength + 1);
        std::string out;
        for (unsigned i = 0; i < length; ++i) {
            const unsigned b = byte();
            out += b < 200 ? kAlphabet[b % (sizeof kAlphabet - 1)] : static_cast<char>(b - 199);
        }
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

const char* const kSelectorControls[] = {
    "Select_0",    "Select_1", "Select_2",    "Select_3",    "Select_5",    "Select_9",
    "Select_12",   "Select_",  "UMDBright_1", "UMDBright_2", "UMDBright_3", "UMDBright_7",
    "UMDBright_'", "Cancel",   "Confirm",     "Name_Editor", "Names_1",     "AckAll"};
const char* const kEditorControls[] = {
    "SrcGroup",  "SrcName",   "SrcName",     "KB_1",           "KB_1",      "Cancel",
    "Update",    "NameSet_1", "NameSet_5",   "NameSet_8",      "NameSet_9", "NameSet_0",
    "NameSet_x", "NameSet_",  "NamesetName", "Nameset_Select", "PostEdit"};
const char* const kHostMessages[] = {"return=all",  "return=myParam", "return=instance",
                                     "return",      "_events",        "_commands",
                                     "myParam.x=5", "instance=A"};

std::string eventFor(const std::string& control, ByteSource& in) {
    switch (in.byte() % 4) {
        case 0:
            return in.text(12);
        case 1:
            if (control == "SrcName" || control == "SrcGroup") {
                return "select=" + std::to_string(in.number(-3, 200));
            }
            if (control == "KB_1") {
                return "key." + in.text(3);
            }
            return "button=released";
        default:
            if (control == "SrcName" || control == "SrcGroup") {
                return "select=" + std::to_string(in.number(0, 128));
            }
            return control == "KB_1" ? "key.a" : "button=pressed";
    }
}

void pressOn(const std::string& panel, const std::string& control, ByteSource& in,
             InvariantHost& host, ScriptDriver& driver) {
    if (host.shownPanel() != panel || !host.isEnabled(panel, control)) {
        return;  // a real host delivers nothing for these
    }
    driver.controlEvent(panel, control, eventFor(control, in));
}

void step(ByteSource& in, InvariantHost& host, ScriptDriver& driver) {
    switch (in.byte() % 13) {
        case 0:
            pressOn("1", in.pick(kSelectorControls), in, host, driver);
            break;
        case 1:
        case 2:
            pressOn("2", in.pick(kEditorControls), in, host, driver);
            break;
        case 3:
            if (host.shownPanel() == "2" && host.isEnabled("2", "KB_1")) {
                host.typeOnKeyboard(in.text(24));
                driver.controlEvent("2", "KB_1", "key.a");
            }
            break;
        case 4:
            if (host.shownPanel() == "2" && host.isEnabled("2", "KB_1")) {
                driver.controlEvent("2", "KB_1", "key.return");
            }
            break;
        case 5: {
            const int devices[] = {InvariantHost::kTally, InvariantHost::kNames, 0, 999};
            const int slots[] = {211, 212, 213, -1};
            driver.revertive(devices[in.byte() % 4], slots[in.byte() % 4], in.text(6));
            break;
        }
        case 6: {
            const int device = in.byte() % 4 == 0 ? InvariantHost::kRouter : InvariantHost::kNames;
            const int database = in.number(-1, 10);
            const int index = in.byte() % 8 == 0 ? in.number(-70000, 70000) : in.number(-1, 130);
            const std::string text = in.text(20);
            if (device == InvariantHost::kNames) {
                host.setName(database, index, text);
            }
            driver.databaseChange(device, database, index, text);
            break;
        }
        case 7: {
            const int ids[] = {1, 2, 3, -1};
            driver.timerTick(ids[in.byte() % 4]);
            break;
        }
        case 8:
            for (int tick = 0; tick < 10; ++tick) {
                driver.timerTick(1);
            }
            break;
        case 9:
            for (int tick = 0; tick < 20; ++tick) {
                driver.timerTick(2);
            }
            break;
        case 10: {
            const std::string message =
                in.byte() % 2 == 0 ? std::string(in.pick(kHostMessages)) : in.text(16);
            driver.hostMessage(message.c_str());
            break;
        }
        case 11: {
            const InvariantHost::ReadFault faults[] = {
                InvariantHost::ReadFault::kNone, InvariantHost::ReadFault::kNone,
                InvariantHost::ReadFault::kNullAnswer, InvariantHost::ReadFault::kOtherProperty};
            host.setReadFault(faults[in.byte() % 4]);
            break;
        }
        default:
            // Panels the script never loaded, and controls of no panel.
            driver.controlEvent(std::to_string(in.number(-1, 3)) + in.text(1), in.text(10),
                                in.text(10));
            break;
    }
}

}  // namespace

std::vector<std::string> PanelExerciser::run(const std::uint8_t* data, std::size_t size) {
    ByteSource in(data, size);
    InvariantHost host;
    // Every name stored, so that a blanked name cannot go unnoticed.
    for (int set = 1; set <= 8; ++set) {
        for (int index = 1; index <= 128; ++index) {
            host.setName(set, index, "Cam " + std::to_string(set) + "/" + std::to_string(index));
        }
        host.setName(9, set, "Set " + std::to_string(set));
    }
    tovi_client_callback* panel = load_tovi_client_script(&host, "layouts");
    if (panel == nullptr) {
        return {"the panel could not be created"};
    }
    {
        ScriptDriver driver(panel);
        while (!in.exhausted()) {
            step(in, host, driver);
        }
    }
    tovi_destroy(panel);
    host.finish();
    return host.violations();
}
