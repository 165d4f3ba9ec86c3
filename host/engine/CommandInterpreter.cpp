#include "CommandInterpreter.h"

#include <memory>
#include <utility>

#include "ControlCharacters.h"
#include "LayoutParser.h"

namespace panelhost {
namespace {

// What "PI", "PS" and "PR" answer on success: any non-null pointer will do,
// and the script never hands it back.
char kTruth[] = "true";

std::string joined(const std::vector<std::string>& items, char separator) {
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty()) {
            text.push_back(separator);
        }
        text += item;
    }
    return text;
}

}  // namespace

struct CommandInterpreter::Reply {
    enum class Kind { Ignored, Null, Truth, Text };
    Kind kind = Kind::Ignored;
    std::string text;

    static Reply ignored() { return {}; }
    static Reply null() { return {Kind::Null, {}}; }
    static Reply truth() { return {Kind::Truth, {}}; }
    static Reply answer(std::string text) { return {Kind::Text, std::move(text)}; }
};

CommandInterpreter::CommandInterpreter(DeviceBus& devices, TimerTable& timers,
                                       AnswerLedger& answers, EventLog& log, ChangeFeed& feed,
                                       Clock clock)
    : devices_(devices),
      timers_(timers),
      answers_(answers),
      log_(log),
      feed_(feed),
      clock_(std::move(clock)) {}

void CommandInterpreter::report(const PanelInstance& instance, const char* kind,
                                const std::string& text) {
    log_.add(instance.id, kind, text);
}

void* CommandInterpreter::execute(PanelInstance& instance, const char* line) {
    if (line == nullptr) {
        report(instance, "error", "the script sent a null command line; ignored");
        return nullptr;
    }
    const std::string text = line;
    log_.add(instance.id, "command", text);
    for (const AnswerLedger::Outstanding& missing : answers_.takeUnreported(instance.id)) {
        report(instance, "error",
               "the answer to \"" + missing.command +
                   "\" was not handed back before the next command");
    }
    if (instance.saidGoodbye) {
        report(instance, "error", "a command after \"AS\" is ignored");
        return nullptr;
    }
    std::string error;
    const std::optional<CommandLine> command = CommandLine::parse(text, error);
    if (!command) {
        ++commandCounts_["malformed"];
        report(instance, "error", "malformed command line (" + error + "); answered null");
        return nullptr;
    }
    ++commandCounts_[commandWordText(command->word)];
    return answer(instance, run(instance, *command, text), text);
}

void* CommandInterpreter::answer(PanelInstance& instance, const Reply& reply,
                                 const std::string& line) {
    switch (reply.kind) {
        case Reply::Kind::Ignored:
            return nullptr;
        case Reply::Kind::Null:
            log_.add(instance.id, "answer", "null");
            return nullptr;
        case Reply::Kind::Truth:
            log_.add(instance.id, "answer", "true");
            return kTruth;
        case Reply::Kind::Text:
            log_.add(instance.id, "answer", "'" + reply.text + "'");
            return answers_.issue(instance.id, reply.text, line);
    }
    return nullptr;
}

CommandInterpreter::Reply CommandInterpreter::run(PanelInstance& instance,
                                                  const CommandLine& command,
                                                  const std::string& line) {
    switch (command.word) {
        case CommandWord::AS:
            return goodbye(instance);
        case CommandWord::CD:
        case CommandWord::CE:
        case CommandWord::CH:
        case CommandWord::CS:
            return controlFlag(instance, command);
        case CommandWord::ET:
            return timer(instance, command);
        case CommandWord::PI:
            return loadPanel(instance, command, false);
        case CommandWord::PS:
            return loadPanel(instance, command, true);
        case CommandWord::PR:
            return removePanel(instance, command);
        case CommandWord::TP:
            return putText(instance, command);
        case CommandWord::TG:
            return textGet(instance, command);
        case CommandWord::XI:
            return listControls(instance, command);
        case CommandWord::IP:
        case CommandWord::IR:
        case CommandWord::IU:
        case CommandWord::IW:
        case CommandWord::RM:
        case CommandWord::RN:
        case CommandWord::RR:
        case CommandWord::SD:
            return device(instance, command);
    }
    report(instance, "error", "no handler for \"" + line + "\"");
    return Reply::null();
}

CommandInterpreter::Reply CommandInterpreter::goodbye(PanelInstance& instance) {
    instance.saidGoodbye = true;
    devices_.forget(instance.id);
    timers_.stopAll(instance.id);
    report(instance, "info", "the script said goodbye; its registrations and timers are dropped");
    return Reply::ignored();
}

LoadedPanel* CommandInterpreter::findPanel(PanelInstance& instance, const std::string& panel,
                                           const CommandLine& command) {
    const auto found = instance.panels.find(panel);
    if (found == instance.panels.end()) {
        report(instance, "warning",
               std::string(commandWordText(command.word)) + ": no panel '" + panel +
                   "' is loaded; ignored");
        return nullptr;
    }
    return &found->second;
}

LoadedPanel::Properties* CommandInterpreter::findControl(PanelInstance& instance,
                                                         const std::string& panel,
                                                         const std::string& control,
                                                         const CommandLine& command) {
    LoadedPanel* loaded = findPanel(instance, panel, command);
    if (loaded == nullptr) {
        return nullptr;
    }
    LoadedPanel::Properties* properties = loaded->properties(control);
    if (properties == nullptr) {
        report(instance, "warning",
               std::string(commandWordText(command.word)) + ": panel '" + panel +
                   "' has no control '" + control + "'; ignored");
    }
    return properties;
}

void CommandInterpreter::setProperty(PanelInstance& instance, const std::string& panel,
                                     const std::string& control,
                                     LoadedPanel::Properties& properties, const std::string& name,
                                     const std::string& value) {
    std::string& current = properties[name];
    if (current == value) {
        return;
    }
    current = value;
    feed_.publish(ControlChanged{instance.id, panel, control, name, value});
}

CommandInterpreter::Reply CommandInterpreter::controlFlag(PanelInstance& instance,
                                                          const CommandLine& command) {
    const std::string& panel = command.texts[0];
    const std::string& control = command.texts[1];
    LoadedPanel::Properties* properties = findControl(instance, panel, control, command);
    if (properties != nullptr) {
        const bool enabling = command.word == CommandWord::CD || command.word == CommandWord::CE;
        const bool on = command.word == CommandWord::CE || command.word == CommandWord::CS;
        setProperty(instance, panel, control, *properties, enabling ? "enabled" : "visible",
                    on ? "true" : "false");
    }
    return Reply::ignored();
}

CommandInterpreter::Reply CommandInterpreter::timer(PanelInstance& instance,
                                                    const CommandLine& command) {
    const int id = command.numbers[0];
    if (command.numbers.size() == 1) {
        timers_.stop(instance.id, id);
        return Reply::ignored();
    }
    int interval = command.numbers[1];
    if (interval <= 0) {
        report(instance, "error",
               "ET: interval " + std::to_string(interval) + " is not above 0; ignored");
        return Reply::ignored();
    }
    if (interval < kShortestInterval) {
        report(instance, "warning",
               "ET: interval " + std::to_string(interval) + " raised to " +
                   std::to_string(kShortestInterval));
        interval = kShortestInterval;
    }
    timers_.start(instance.id, id, std::chrono::milliseconds(interval), clock_());
    return Reply::ignored();
}

void CommandInterpreter::publishPanel(const PanelInstance& instance, const LoadedPanel& panel,
                                      PanelChanged::State state) {
    feed_.publish(PanelChanged{instance.id, panel.id(), panel.layout().file, state});
}

CommandInterpreter::Reply CommandInterpreter::loadPanel(PanelInstance& instance,
                                                        const CommandLine& command, bool show) {
    const std::string& id = command.texts[0];
    const std::string& file = command.texts[1];
    const auto found = instance.panels.find(id);
    if (show && found != instance.panels.end() && found->second.layout().file == file) {
        if (!found->second.shown()) {
            found->second.setShown(true);
            publishPanel(instance, found->second, PanelChanged::State::Shown);
        }
        return Reply::truth();
    }
    std::shared_ptr<const Layout> layout;
    try {
        layout = std::make_shared<const Layout>(LayoutParser::parseFile(file));
    } catch (const LayoutError& error) {
        report(instance, "error",
               std::string(commandWordText(command.word)) +
                   ": layout file not loaded: " + error.what());
        return Reply::null();
    }
    const bool wasShown = found != instance.panels.end() && found->second.shown();
    if (found != instance.panels.end()) {
        instance.panels.erase(found);
    }
    LoadedPanel& panel = instance.panels.emplace(id, LoadedPanel(id, layout)).first->second;
    panel.setShown(show || wasShown);
    report(instance, "info",
           "panel '" + id + "' loaded from " + file + " (" +
               std::to_string(layout->controls.size()) + " controls)");
    publishPanel(instance, panel, PanelChanged::State::Loaded);
    if (panel.shown()) {
        publishPanel(instance, panel, PanelChanged::State::Shown);
    }
    return Reply::truth();
}

CommandInterpreter::Reply CommandInterpreter::removePanel(PanelInstance& instance,
                                                          const CommandLine& command) {
    LoadedPanel* panel = findPanel(instance, command.texts[0], command);
    if (panel == nullptr) {
        return Reply::null();
    }
    if (panel->shown()) {
        panel->setShown(false);
        publishPanel(instance, *panel, PanelChanged::State::Removed);
    }
    return Reply::truth();
}

CommandInterpreter::Reply CommandInterpreter::putText(PanelInstance& instance,
                                                      const CommandLine& command) {
    const std::string& text = command.texts[0];
    const std::string& panel = command.texts[1];
    const std::string& control = command.texts[2];
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        report(instance, "error", "TP: '" + text + "' is not of the form property=value; ignored");
        return Reply::ignored();
    }
    LoadedPanel::Properties* properties = findControl(instance, panel, control, command);
    if (properties == nullptr) {
        return Reply::ignored();
    }
    const std::string name = text.substr(0, equals);
    const std::string value = text.substr(equals + 1);
    if (name == "statesheet" && !value.empty() &&
        instance.panels.at(panel).layout().statesheet(value) == nullptr) {
        report(
            instance, "warning",
            "TP: statesheet '" + value + "' is not defined in the layout of panel '" + panel + "'");
    }
    setProperty(instance, panel, control, *properties, name, value);
    return Reply::ignored();
}

CommandInterpreter::Reply CommandInterpreter::textGet(PanelInstance& instance,
                                                      const CommandLine& command) {
    const std::string& property = command.texts[2];
    const LoadedPanel::Properties* properties =
        findControl(instance, command.texts[0], command.texts[1], command);
    if (properties == nullptr) {
        return Reply::null();
    }
    if (property == "all") {
        std::vector<std::string> lines;
        for (const auto& [name, value] : *properties) {
            lines.push_back(name + "=" + value);
        }
        return Reply::answer(joined(lines, '\n'));
    }
    const auto found = properties->find(property);
    return Reply::answer(property + "=" + (found == properties->end() ? "" : found->second));
}

CommandInterpreter::Reply CommandInterpreter::listControls(PanelInstance& instance,
                                                           const CommandLine& command) {
    const LoadedPanel* panel = findPanel(instance, command.texts[0], command);
    if (panel == nullptr) {
        return Reply::null();
    }
    return Reply::answer(joined(panel->controlNames(command.texts[1]), ','));
}

CommandInterpreter::Reply CommandInterpreter::device(PanelInstance& instance,
                                                     const CommandLine& command) {
    const std::vector<int>& n = command.numbers;
    HostResult result;
    switch (command.word) {
        case CommandWord::SD: {
            const std::optional<int> number = devices_.lookup(command.texts[0]);
            if (!number) {
                report(instance, "warning", "SD: no device is called '" + command.texts[0] + "'");
                return Reply::null();
            }
            return Reply::answer(std::to_string(*number));
        }
        case CommandWord::RN: {
            const std::optional<std::string> name = devices_.readName(n[0], n[1], n[2]);
            if (!name) {
                report(instance, "warning",
                       "RN: device " + std::to_string(n[0]) + " has no entry " +
                           std::to_string(n[2]) + " in database " + std::to_string(n[1]));
                return Reply::null();
            }
            return Reply::answer(*name);
        }
        case CommandWord::IR:
            result = devices_.registerSlots(instance.id, n[0], n[1], n[2], command.add);
            break;
        case CommandWord::RR:
            result = devices_.registerNames(instance.id, n[0], n[1], n[2], command.add);
            break;
        case CommandWord::IU:
            result = devices_.unregisterSlots(instance.id, n[0]);
            break;
        case CommandWord::IP:
            result = devices_.poll(instance.id, n[0], n[1], n[2]);
            break;
        case CommandWord::IW:
            result = devices_.writeSlot(instance.who(), n[0], n[1], command.texts[0]);
            break;
        case CommandWord::RM:
            result = devices_.writeName(instance.who(), n[0], n[1], n[2], command.texts[0]);
            break;
        default:
            break;
    }
    const bool storeRefused = result.status == HostResult::Status::Failed ||
                              result.status == HostResult::Status::Unavailable;
    const bool write = command.word == CommandWord::IW || command.word == CommandWord::RM;
    const bool textRefused = result.status == HostResult::Status::Invalid && write &&
                             ControlCharacters::first(command.texts[0]).has_value();
    if (storeRefused || textRefused) {
        // Refused by the store, or for a control character before it: a
        // change the panel shows and nobody keeps.
        report(instance, "error",
               std::string(commandWordText(command.word)) + ": not stored: " + result.error);
    } else if (!result.ok()) {
        report(instance, "error",
               std::string(commandWordText(command.word)) + ": " + result.error + "; ignored");
    }
    return Reply::ignored();
}

}  // namespace panelhost
