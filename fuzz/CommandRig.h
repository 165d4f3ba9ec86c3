#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceCatalog.h"
#include "NameStore.h"

namespace panelhost {

// The host's command interpreter with the real devices (the default catalog
// on a seeded data file in a scratch folder), timers, answer bookkeeping,
// log and event feed, wired as the program wires them. run() plays one
// script: a fresh panel instance loads two known layouts, then sends every
// line of the input; the rig checks the interpreter's promises after each
// line and returns every broken one as a sentence.
class CommandRig {
  public:
    CommandRig();
    // Removes the scratch folder.
    ~CommandRig();

    CommandRig(const CommandRig&) = delete;
    CommandRig& operator=(const CommandRig&) = delete;

    // Lines are separated by '\n'; each is sent as the script would send it.
    std::vector<std::string> run(std::string_view input);

  private:
    // A text answer the script still holds, with what it said when issued.
    struct Held {
        const char* answer;
        std::string text;
    };

    void send(const std::string& line);
    void checkAnswer(const std::string& line, void* answer, std::size_t outstandingBefore);
    void handBackHeld();
    void drainQueue();
    std::size_t drainFeed();
    std::string fingerprint();
    void violated(const std::string& line, const std::string& what);

    // Everything but the devices' data lives for one input only, so that an
    // input's allocations are all freed when it ends.
    struct Session;

    std::filesystem::path folder_;
    std::string startup_;
    DeviceCatalog catalog_;
    std::unique_ptr<NameStore> store_;
    std::unique_ptr<Session> session_;
    std::vector<Held> held_;
    std::vector<std::string> violations_;
};

}  // namespace panelhost
