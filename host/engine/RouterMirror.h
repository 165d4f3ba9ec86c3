#pragma once

#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "ChangeFeed.h"
#include "DeviceBus.h"
#include "EventLog.h"
#include "NameStore.h"
#include "RouterUpdate.h"

namespace panelhost {

// The router device ("StC SDI Router") as a mirror of a real router: takes
// the router's labels into the device's databases 0 (sources) and 2
// (destinations) through the device bus, so they persist and reach the
// registered panels and the event stream like any other write, and keeps
// the router's crosspoints, persisted in the data file so that the last
// known routing survives a restart of the host. Without a router it holds
// the crosspoints last stored and changes nothing. Publishes "crosspoint"
// ({destination, source}) and "router" ({state, detail}) changes. Not
// thread-safe: the engine's thread alone uses it; the bus, store, log and
// feed must outlive it.
class RouterMirror {
  public:
    // Destinations (and sources) the router device holds: its entries.
    static constexpr int kSignals = 128;

    RouterMirror(DeviceBus& devices, NameStore& store, EventLog& log, ChangeFeed& feed);

    // Marks the router device as backed by the router at `endpoint` (as
    // given on the command line); false when the catalog has no router
    // device to back.
    bool configure(const std::string& endpoint);
    // Takes what the router reported: labels that differ from the stored
    // ones are written (as "router"), changed crosspoints are stored, then
    // published, and a change of the link is published. Labels and
    // destinations beyond the device's entries are left out. A label's
    // control characters never reach the devices and the displays: each
    // run of them is taken as one space (which keeps apart the words a
    // line break or a tab separated, where a '?' would pass for a letter a
    // display cannot show), with a warning in the log.
    void apply(const RouterUpdate& update);

    // A crosspoint of this router device that another host stored, already
    // in the store's memory: taken and published as a change from the
    // router would be, without storing it again.
    void takeStored(int destination, int source);

    // The source routed to `destination` as last known; 0 for none.
    int source(int destination) const;
    const std::map<int, int>& crosspoints() const { return crosspoints_; }
    // The router as given to configure(); "" while the device is simulated.
    const std::string& endpoint() const { return endpoint_; }
    // "connecting", "connected" or "disconnected".
    const std::string& state() const { return state_; }
    // {"enabled", "router", "state", "detail"}.
    nlohmann::json toJson() const;

  private:
    void writeLabels(int database, const std::map<int, std::string>& labels);
    void route(const std::map<int, int>& crosspoints);
    // Takes a crosspoint into the mirror, logs and publishes it.
    void publish(int destination, int source, const std::string& note);

    DeviceBus& devices_;
    NameStore& store_;
    EventLog& log_;
    ChangeFeed& feed_;
    int device_ = 0;
    std::string endpoint_;
    std::string state_ = "connecting";
    std::string detail_;
    std::map<int, int> crosspoints_;
};

}  // namespace panelhost
