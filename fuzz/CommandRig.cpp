#include "CommandRig.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <variant>

#include "AnswerLedger.h"
#include "ChangeFeed.h"
#include "CommandInterpreter.h"
#include "CommandLine.h"
#include "DeviceBus.h"
#include "EventLog.h"
#include "JsonText.h"
#include "NameSeed.h"
#include "NotificationQueue.h"
#include "PanelInstance.h"
#include "SqliteNameStore.h"
#include "TimerTable.h"
#include "tovi_client_callback.h"

namespace panelhost {
namespace {

// The log only feeds the event stream here; a short ring keeps memory flat
// over millions of inputs.
constexpr std::size_t kLogCapacity = 1000;

// Both layouts hold every kind of control, statesheets in use, a disabled
// control and a family of names that "XI" can list by prefix.
constexpr const char* kSelectorLayout =
    R"(<panel title="Selector" width="640" height="480" background="#212529">
  <statesheet name="Lit" background="#2f9e44"/>
  <statesheet name="Dim" background="#343a40"/>
  <button name="Select_1" x="1" y="1" width="10" height="10" text="1" statesheet="Dim"/>
  <button name="Select_2" x="1" y="1" width="10" height="10" text="2" statesheet="Dim"/>
  <button name="Confirm" x="1" y="1" width="10" height="10" enabled="false"/>
  <label name="Current" x="1" y="1" width="10" height="10" text="News"/>
  <list name="SrcName" x="1" y="1" width="10" height="10" items="128" pageSize="16"/>
  <buttongroup name="SrcGroup" x="1" y="1" width="10" height="10">
    <member value="1" text="1-16"/>
    <member value="2" text="17-32"/>
  </buttongroup>
  <keyboard name="KB_1" x="1" y="1" width="10" height="10" enabled="false"/>
</panel>
)";
constexpr const char* kEditorLayout = R"(<panel title="Editor" width="320" height="240">
  <statesheet name="ZR_TakeHigh" background="#f59f00"/>
  <label name="alm_1" x="1" y="1" width="10" height="10"/>
  <label name="alm_2" x="1" y="1" width="10" height="10" visible="false"/>
  <label name="PostEdit" x="1" y="1" width="10" height="10" text="Camera 1"/>
  <button name="Update" x="1" y="1" width="10" height="10" statesheet="ZR_TakeHigh"/>
</panel>
)";

constexpr const char* kFolderPrefix = "panelhost-fuzz-";

// tmpfs when there is one: every name write is synced to the data file.
std::filesystem::path scratchBase() {
    std::error_code ignored;
    const std::filesystem::path shared = "/dev/shm";
    return std::filesystem::is_directory(shared, ignored) ? shared
                                                          : std::filesystem::temp_directory_path();
}

// A finding aborts the process before the rig is destroyed: the folders of
// runs that are gone are removed by the next run.
void removeStaleFolders(const std::filesystem::path& base) {
    std::error_code ignored;
    const std::string prefix = kFolderPrefix;
    for (const auto& entry : std::filesystem::directory_iterator(base, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        const pid_t owner = static_cast<pid_t>(std::atoi(name.c_str() + prefix.size()));
        if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
}

std::filesystem::path scratchFolder() {
    const std::filesystem::path base = scratchBase();
    removeStaleFolders(base);
    return base / (kFolderPrefix + std::to_string(getpid()));
}

void writeFile(const std::filesystem::path& file, const char* text) {
    std::ofstream(file, std::ios::binary) << text;
}

}  // namespace

struct CommandRig::Session {
    Session(const DeviceCatalog& catalog, NameStore& store)
        : devices(catalog, store, queue, feed, log),
          interpreter(devices, timers, answers, log, feed, [] { return TimerTable::TimePoint{}; }) {
        // As in the program: every log entry also goes out on the event stream.
        log.addListener([this](const LogEntry& entry) { feed.publish(entry); });
        subscription = feed.subscribe();
        instance.id = 1;
    }

    EventLog log{kLogCapacity};
    ChangeFeed feed;
    std::shared_ptr<ChangeFeed::Subscription> subscription;
    NotificationQueue queue;
    TimerTable timers;
    AnswerLedger answers;
    DeviceBus devices;
    CommandInterpreter interpreter;
    PanelInstance instance;
};

CommandRig::CommandRig() : folder_(scratchFolder()), catalog_(DeviceCatalog::defaults()) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    writeFile(folder_ / "Selector.tovi_ui", kSelectorLayout);
    writeFile(folder_ / "NameEdit.tovi_ui", kEditorLayout);
    startup_ = "PI '1' '" + (folder_ / "Selector.tovi_ui").string() + "'\nPS '2' '" +
               (folder_ / "NameEdit.tovi_ui").string() + "'\nPS '1' '" +
               (folder_ / "Selector.tovi_ui").string() + "'";
    store_ =
        std::make_unique<SqliteNameStore>(folder_ / "panelhost.db", NameSeed::forCatalog(catalog_));
}

CommandRig::~CommandRig() {
    session_.reset();
    store_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> CommandRig::run(std::string_view input) {
    violations_.clear();
    session_ = std::make_unique<Session>(catalog_, *store_);
    const std::string script = startup_ + "\n" + std::string(input);
    std::size_t start = 0;
    while (start <= script.size()) {
        const std::size_t end = std::min(script.find('\n', start), script.size());
        const std::string line = script.substr(start, end - start);
        // The script's lines are C strings: a NUL ends the line.
        send(line.substr(0, line.find('\0')));
        start = end + 1;
    }
    // As the HTTP API shows them; every change was already shown on the feed.
    for (const auto& [id, panel] : session_->instance.panels) {
        try {
            jsonText(panel.toJson());
        } catch (const std::exception& thrown) {
            violated("", "panel '" + id + "' cannot be shown as JSON: " + thrown.what());
        }
    }
    handBackHeld();
    if (!session_->answers.reclaim(session_->instance.id).empty()) {
        violated("", "answers were still outstanding after every one was handed back");
    }
    session_.reset();
    return violations_;
}

void CommandRig::send(const std::string& line) {
    std::string error;
    const std::optional<CommandLine> parsed = CommandLine::parse(line, error);
    const bool refused = !parsed || session_->instance.saidGoodbye;
    const std::string before = refused ? fingerprint() : std::string();
    const std::size_t outstanding = session_->answers.outstandingCount();
    void* answer = nullptr;
    try {
        answer = session_->interpreter.execute(session_->instance, line.c_str());
    } catch (const std::exception& thrown) {
        violated(line, std::string("the interpreter threw: ") + thrown.what());
        return;
    }
    const std::size_t changes = drainFeed();
    if (refused) {
        if (answer != nullptr) {
            violated(line, "a refused line was answered");
        }
        if (changes != 0) {
            violated(line, "a refused line published " + std::to_string(changes) + " changes");
        }
        if (fingerprint() != before) {
            violated(line, "a refused line changed the host's state");
        }
        return;
    }
    const CommandWord word = parsed->word;
    if (word == CommandWord::SD || word == CommandWord::XI || word == CommandWord::RN ||
        word == CommandWord::TG) {
        checkAnswer(line, answer, outstanding);
    } else if (session_->answers.outstandingCount() != outstanding) {
        violated(line, "a command without a text answer changed the outstanding answers");
    } else if (answer != nullptr && word != CommandWord::PI && word != CommandWord::PS &&
               word != CommandWord::PR) {
        violated(line, "a command whose result is ignored got a non-null answer");
    }
    drainQueue();
}

void CommandRig::checkAnswer(const std::string& line, void* answer, std::size_t outstandingBefore) {
    if (answer == nullptr) {
        if (session_->answers.outstandingCount() != outstandingBefore) {
            violated(line, "a null answer changed the outstanding answers");
        }
        return;
    }
    if (session_->answers.outstandingCount() != outstandingBefore + 1) {
        violated(line, "a text answer is not owned by the ledger");
        return;
    }
    const char* text = static_cast<const char*>(answer);
    // Even lines hand their answer back at once; odd ones hold it to the end
    // of the input, across every later command.
    if (line.size() % 2 == 0) {
        if (session_->answers.release(answer) != AnswerLedger::Release::Released) {
            violated(line, "an outstanding answer could not be handed back");
        }
        return;
    }
    held_.push_back(Held{text, text});
}

void CommandRig::handBackHeld() {
    for (const Held& held : held_) {
        if (held.text != held.answer) {
            violated("", "an answer changed before it was handed back: '" + held.text + "'");
        }
        if (session_->answers.release(held.answer) != AnswerLedger::Release::Released) {
            violated("", "a held answer could not be handed back: '" + held.text + "'");
        }
    }
    if (!held_.empty() &&
        session_->answers.release(held_.front().answer) != AnswerLedger::Release::AlreadyReleased) {
        violated("", "a second hand-back was not recognised");
    }
    held_.clear();
}

void CommandRig::drainQueue() {
    while (const std::optional<Notification> next = session_->queue.pop()) {
        if (next->instance != session_->instance.id) {
            violated("", "a notification for instance " + std::to_string(next->instance));
        }
        if (next->type != tovi_type::kRevertive && next->type != tovi_type::kDatabaseChange) {
            violated("", "a notification of type " + std::to_string(next->type));
        }
        if (std::memchr(next->record.text, '\0', tovi_revertive_record::kTextCapacity) == nullptr) {
            violated("", "a notification record's text is not terminated");
        }
    }
}

std::size_t CommandRig::drainFeed() {
    std::size_t changes = 0;
    for (const Change& change : session_->subscription->wait(std::chrono::milliseconds(0))) {
        if (!std::holds_alternative<LogEntry>(change.event)) {
            ++changes;
        }
    }
    return changes;
}

std::string CommandRig::fingerprint() {
    std::string print = session_->instance.saidGoodbye ? "closing" : "running";
    for (const auto& [id, panel] : session_->instance.panels) {
        print += "\n" + id + (panel.shown() ? " shown:" : " hidden:");
        for (const ControlSpec& controlSpec : panel.layout().controls) {
            for (const auto& [name, value] : *panel.properties(controlSpec.name)) {
                print += " " + controlSpec.name + "." + name + "=" + value;
            }
        }
    }
    const std::optional<TimerTable::TimePoint> due = session_->timers.nextDue();
    print += "\nqueued " + std::to_string(session_->queue.size()) + ", outstanding " +
             std::to_string(session_->answers.outstandingCount()) + ", next tick " +
             (due ? std::to_string(due->time_since_epoch().count()) : "none");
    return print;
}

void CommandRig::violated(const std::string& line, const std::string& what) {
    violations_.push_back(line.empty() ? what : what + " (line \"" + line + "\")");
}

}  // namespace panelhost
