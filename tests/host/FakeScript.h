#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tovi_client_callback.h"
#include "tovi_event_text.h"
#include "tovi_records.h"

// An in-process script for driving the host in tests. It sends its start-up
// lines from its constructor and "AS" from its destructor, records every
// notification, and obeys host messages:
//   send=LINE   sends LINE and answers with what the host answered: the text
//               in apostrophes or null for SD/XI/RN/TG (handing it back), true
//               or null for PI/PS/PR, nothing for the other commands
//   keep=LINE   sends LINE twice and hands neither answer back
//   twice=LINE  sends LINE and hands its answer back twice
//   bogus       hands back a pointer the host never gave out
class FakeScript : public tovi_client_callback {
  public:
    struct Notice {
        int type;
        std::string text;
    };

    FakeScript(tovi_client_callback* host, const std::vector<std::string>& startup) : host_(host) {
        for (const std::string& line : startup) {
            send(line);
        }
    }

    ~FakeScript() override {
        if (sayGoodbye) {
            send("AS");
        }
    }

    void* deliver(void* data, int type) override {
        if (inside_) {
            reentered = true;
        }
        inside_ = true;
        void* result = handle(data, type);
        inside_ = false;
        return result;
    }

    std::string send(const std::string& line) {
        void* answer = host_->deliver(const_cast<char*>(line.c_str()), 0);
        const std::string word = line.substr(0, 2);
        if (word == "SD" || word == "XI" || word == "RN" || word == "TG") {
            const std::string text =
                answer == nullptr ? "null" : "'" + std::string(static_cast<char*>(answer)) + "'";
            if (answer != nullptr || word == "RN") {
                host_->deliver(answer, 5);
            }
            return text;
        }
        if (word == "PI" || word == "PS" || word == "PR") {
            return answer == nullptr ? "null" : "true";
        }
        return answer == nullptr ? "" : "unexpected answer";
    }

    std::vector<Notice> notices;
    bool reentered = false;
    bool sayGoodbye = true;
    // Called for every notification of types 1, 2, 4 and 6 after it is recorded.
    std::function<void(FakeScript&, const Notice&)> react;

  private:
    static char* copy(const std::string& text) {
        char* block = new char[text.size() + 1];
        std::memcpy(block, text.c_str(), text.size() + 1);
        return block;
    }

    void* message(const std::string& text) {
        if (text.rfind("send=", 0) == 0) {
            return copy(send(text.substr(5)));
        }
        if (text.rfind("keep=", 0) == 0) {
            host_->deliver(const_cast<char*>(text.c_str() + 5), 0);
            host_->deliver(const_cast<char*>(text.c_str() + 5), 0);
            return nullptr;
        }
        if (text.rfind("twice=", 0) == 0) {
            void* answer = host_->deliver(const_cast<char*>(text.c_str() + 6), 0);
            host_->deliver(answer, 5);
            host_->deliver(answer, 5);
            return nullptr;
        }
        if (text == "bogus") {
            static char elsewhere[] = "x";
            host_->deliver(elsewhere, 5);
        }
        return nullptr;
    }

    void* handle(void* data, int type) {
        Notice notice{type, ""};
        switch (type) {
            case 1:
            case 6: {
                const auto* record = static_cast<const tovi_revertive_record*>(data);
                notice.text = std::to_string(record->device) + " " +
                              (type == 6 ? std::to_string(record->database) + " " : "") +
                              std::to_string(record->index) + " " + record->text;
                break;
            }
            case 2: {
                const auto* record = static_cast<const tovi_control_record*>(data);
                const tovi_event_text& event = *record->event;
                notice.text = std::string(record->panel) + " " + record->control + " " + event.name;
                for (int i = 0; i < event.subCount; ++i) {
                    notice.text += std::string(".") + event.subs[i];
                }
                if (event.hasValue) {
                    notice.text += std::string("=") + event.value;
                }
                break;
            }
            case 3:
                return message(static_cast<const char*>(data));
            case 4:
                notice.text = "timer " + std::to_string(reinterpret_cast<std::intptr_t>(data));
                break;
            case 5:
                delete[] static_cast<char*>(data);
                return nullptr;
            default:
                return nullptr;
        }
        notices.push_back(notice);
        if (react) {
            react(*this, notice);
        }
        return nullptr;
    }

    tovi_client_callback* host_;
    bool inside_ = false;
};
