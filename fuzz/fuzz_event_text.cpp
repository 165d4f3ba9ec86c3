// The parse of an event text, as a control event and as a host message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ScriptDriver.h"
#include "tovi_event_text.h"
#include "tovi_script_helper.h"

namespace {

// Answers every host message with its own name and value, so the answer
// path (allocation, hand-back) runs for every input.
class EchoScript : public tovi_script_helper {
  public:
    EchoScript() : tovi_script_helper(nullptr, nullptr) {}

  protected:
    void onControlEvent(tovi_control_notify* event) override {
        sink_ = event->eventName() + event->eventSub() + event->eventValue();
        sink_ += event->panelId() + event->controlName();
    }
    int onRevertive(tovi_revertive_notify*) override { return 0; }
    tovi_string onHostMessage(tovi_host_message* message) override {
        return message->messageName() + "=" + message->messageValue();
    }
    void onTimer(int) override {}

  private:
    tovi_string sink_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tovi_event_text parsed(text.c_str());
    if (parsed.subCount < 0 || parsed.subCount > tovi_event_text::kMaxSubs) {
        __builtin_trap();
    }
    for (const char* sub : parsed.subs) {
        if (sub == nullptr) {
            __builtin_trap();
        }
    }
    EchoScript script;
    ScriptDriver driver(&script);
    driver.controlEvent(text, text, text);
    driver.hostMessage(text.c_str());
    return 0;
}
