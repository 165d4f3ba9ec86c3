#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ChangeFeed.h"
#include "EngineThread.h"
#include "EventLog.h"
#include "TallyInputs.h"
#include "TslOutput.h"
#include "UmdWall.h"

namespace panelhost {

// Drives real under-monitor displays over TSL UMD 5.0 and 3.1: sends the wall (see
// UmdWall) in full when it starts, when the shown set or the brightness
// changes and at every refresh period, and one message when a shown name
// changes. A target that follows the router shows at display n the name of
// the source routed to router destination n, sent again when that
// crosspoint or that name changes. Follows the host's change feed on a thread of its own and reads
// the devices through the engine's thread. Packet summaries go to the log
// as kind "tsl"; a receiver that cannot be reached is logged and retried,
// never fatal. Should the output fall so far behind that the feed drops it,
// it logs a warning, follows the feed again at once and sends the whole
// wall, so the displays never go quiet unannounced. Only the targets this
// host drives are sent anything (setDriver(); all of them unless the
// configuration says otherwise). With tally inputs (TallyInputs) every
// message carries the lamps the vision mixers give the display's source
// (a following display: the source routed to it), and a change of lamps
// sends the displays it concerns at once; where a source has no name, an
// input's label (,text=use) is shown. The engine thread, feed and log must
// outlive it.
class DisplayOutput {
  public:
    // Starts the senders, the tally inputs and the thread; throws
    // std::invalid_argument for a configuration the output cannot use (also
    // a tally input whose port cannot be had).
    DisplayOutput(const tsl::TslOutputConfig& config, EngineThread& engine, ChangeFeed& feed,
                  EventLog& log, const TallyInputs::Config& tallies = {});
    // The same over the given transports, which it owns; the targets of
    // `config` are only named in the log.
    DisplayOutput(const tsl::TslOutputConfig& config,
                  std::vector<std::unique_ptr<tsl::TslTransport>> transports, EngineThread& engine,
                  ChangeFeed& feed, EventLog& log, const TallyInputs::Config& tallies = {});
    // Stops following the feed, waits for the thread to finish what it is
    // doing (never for the feed) and gives the senders a moment to send
    // what they hold.
    ~DisplayOutput();

    DisplayOutput(const DisplayOutput&) = delete;
    DisplayOutput& operator=(const DisplayOutput&) = delete;

    // What was last sent to each display (with its lamps), each receiver's
    // state with who drives it, and each tally input's counts.
    nlohmann::json statusJson() const;

    // Whether this host drives target `target` (an index into the
    // configuration's targets), and the name of the host that drives it
    // (nothing: none, or not known). A target that becomes driven is sent
    // the whole wall at once; one no longer driven is sent nothing more.
    // One thread at a time (it applies changes in the order they come);
    // statusJson() meanwhile from any. A change is published on the feed as
    // a DisplayDriverChanged.
    void setDriver(std::size_t target, bool driving, std::optional<std::string> driver);

  private:
    void start(const tsl::TslOutputConfig& config, const TallyInputs::Config& tallies);
    void run();
    void catchUp();
    // Takes the changes the displays show; every other kind passes by.
    void follow(const Change& change);
    void follow(const CrosspointChanged& event);
    void follow(const SlotChanged& event);
    void follow(const NameChanged& event);
    void follow(const DisplayTallyChanged& event);
    // What display `source` shows: its name, else an input's label.
    std::string shownName(int source) const;
    // The source a following display of `destination` shows, and its lamps.
    tsl::TslTally routedTally(int destination) const;
    tsl::TslTally tallyOf(int source) const;
    void sendWall(const std::string& why);
    // Sends what a following display shows for `destination` now.
    void sendRouted(int destination);

    EngineThread& engine_;
    ChangeFeed& feed_;
    EventLog& log_;
    std::shared_ptr<ChangeFeed::Subscription> subscription_;
    std::unique_ptr<tsl::TslOutput> output_;
    // Started after the output and stopped before it: its threads publish
    // what the display thread sends.
    std::unique_ptr<TallyInputs> tallies_;
    // Only the output's own thread touches it after the start.
    UmdWall wall_;
    // wall_.routed for statusJson(), which other threads call.
    mutable std::mutex routedMutex_;
    std::array<int, UmdWall::kSourceCount> routedSources_{};
    // Who drives each target, for statusJson().
    struct Driver {
        bool driving = false;
        std::optional<std::string> name;
    };
    mutable std::mutex driversMutex_;
    std::vector<Driver> drivers_;
    std::thread thread_;
};

}  // namespace panelhost
