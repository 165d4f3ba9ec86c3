#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "AnswerLedger.h"
#include "ChangeFeed.h"
#include "CommandLine.h"
#include "DeviceBus.h"
#include "EventLog.h"
#include "PanelInstance.h"
#include "TimerTable.h"

namespace panelhost {

// Carries out the command lines a script sends (type 0) and produces what
// the host's deliver() returns: a text answer the ledger owns until the
// script hands it back, a truth pointer, or null. Logs every line and every
// answer; a line it cannot parse or carry out is logged as an error, answered
// with null, and changes nothing. Not thread-safe; the references must
// outlive the interpreter.
class CommandInterpreter {
  public:
    using Clock = std::function<TimerTable::TimePoint()>;

    // Shortest timer interval the host runs, in milliseconds; shorter ones
    // are raised to it so that a script cannot flood the host with ticks.
    static constexpr int kShortestInterval = 10;

    CommandInterpreter(DeviceBus& devices, TimerTable& timers, AnswerLedger& answers, EventLog& log,
                       ChangeFeed& feed, Clock clock);

    void* execute(PanelInstance& instance, const char* line);

    // Lines executed since the start, by command word; lines that could not
    // be parsed count as "malformed".
    const std::map<std::string, std::uint64_t>& commandCounts() const { return commandCounts_; }

    // Tells the change feed that `panel` of `instance` changed state.
    void publishPanel(const PanelInstance& instance, const LoadedPanel& panel,
                      PanelChanged::State state);

  private:
    struct Reply;

    Reply run(PanelInstance& instance, const CommandLine& command, const std::string& line);
    Reply controlFlag(PanelInstance& instance, const CommandLine& command);
    Reply timer(PanelInstance& instance, const CommandLine& command);
    Reply loadPanel(PanelInstance& instance, const CommandLine& command, bool show);
    Reply removePanel(PanelInstance& instance, const CommandLine& command);
    Reply putText(PanelInstance& instance, const CommandLine& command);
    Reply textGet(PanelInstance& instance, const CommandLine& command);
    Reply listControls(PanelInstance& instance, const CommandLine& command);
    Reply device(PanelInstance& instance, const CommandLine& command);
    Reply goodbye(PanelInstance& instance);

    LoadedPanel* findPanel(PanelInstance& instance, const std::string& panel,
                           const CommandLine& command);
    LoadedPanel::Properties* findControl(PanelInstance& instance, const std::string& panel,
                                         const std::string& control, const CommandLine& command);
    void setProperty(PanelInstance& instance, const std::string& panel, const std::string& control,
                     LoadedPanel::Properties& properties, const std::string& name,
                     const std::string& value);
    void report(const PanelInstance& instance, const char* kind, const std::string& text);
    void* answer(PanelInstance& instance, const Reply& reply, const std::string& line);

    DeviceBus& devices_;
    TimerTable& timers_;
    AnswerLedger& answers_;
    EventLog& log_;
    ChangeFeed& feed_;
    Clock clock_;
    std::map<std::string, std::uint64_t> commandCounts_;
};

}  // namespace panelhost
