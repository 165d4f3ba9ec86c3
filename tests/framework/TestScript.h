#pragma once

#include <string>
#include <vector>

#include "tovi_script_helper.h"

// A panel script that records which handler each notification reached and
// opens the framework's protected operations to the tests.
class TestScript : public tovi_script_helper {
public:
    TestScript(tovi_client_callback* hostObject, const char* path)
        : tovi_script_helper(hostObject, path) {}

    using tovi_script_helper::debugOut;
    using tovi_script_helper::disableControl;
    using tovi_script_helper::enableControl;
    using tovi_script_helper::findDevice;
    using tovi_script_helper::handleAlarms;
    using tovi_script_helper::hideControl;
    using tovi_script_helper::host;
    using tovi_script_helper::listControls;
    using tovi_script_helper::loadPanel;
    using tovi_script_helper::panelPath;
    using tovi_script_helper::pollInfodriver;
    using tovi_script_helper::putProperty;
    using tovi_script_helper::putText;
    using tovi_script_helper::readName;
    using tovi_script_helper::registerInfodriver;
    using tovi_script_helper::registerRouter;
    using tovi_script_helper::removePanel;
    using tovi_script_helper::showControl;
    using tovi_script_helper::showPanel;
    using tovi_script_helper::startTimer;
    using tovi_script_helper::stopTimer;
    using tovi_script_helper::textGet;
    using tovi_script_helper::unregisterInfodriver;
    using tovi_script_helper::writeInfodriver;
    using tovi_script_helper::writeName;

    // One entry per handler call, e.g. "control 2 SrcName select 37".
    std::vector<std::string> calls;
    // What onHostMessage answers.
    std::string hostAnswer;

protected:
    void onControlEvent(tovi_control_notify* event) override {
        calls.push_back(std::string("control ") + event->panelId().data() + " " +
                        event->controlName().data() + " " + event->eventName().data() + " " +
                        event->eventValue().data());
    }
    int onRevertive(tovi_revertive_notify* revertive) override {
        calls.push_back("revertive " + std::to_string(revertive->device()) + " " +
                        std::to_string(revertive->index()) + " " + revertive->text().data());
        return 7;
    }
    tovi_string onHostMessage(tovi_host_message* message) override {
        calls.push_back(std::string("message ") + message->messageName().data() + " " +
                        message->messageValue().data());
        return hostAnswer.c_str();
    }
    void onNotifyType7(tovi_type7_notify* notify) override {
        calls.push_back(notify->data == nullptr ? "type7 null" : "type7 data");
    }
    void onTimer(int timerId) override { calls.push_back("timer " + std::to_string(timerId)); }
    void onDatabaseChange(tovi_revertive_notify* change) override {
        calls.push_back("database " + std::to_string(change->device()) + " " +
                        std::to_string(change->database()) + " " +
                        std::to_string(change->index()) + " " + change->text().data());
    }
};
