#include "RouterMirror.h"

#include <nlohmann/json.hpp>

#include "ControlCharacters.h"
#include "UmdWall.h"

namespace panelhost {
namespace {

// Who the history names for a label the router changed.
constexpr const char* kWriter = "router";
constexpr int kSourceDatabase = 0;
constexpr int kDestinationDatabase = 2;

// A label cut to what an entry holds, never inside a UTF-8 sequence.
std::string clipped(const std::string& label) {
    if (label.size() <= DeviceBus::kLongestText) {
        return label;
    }
    std::size_t end = DeviceBus::kLongestText;
    while (end > 0 && (static_cast<unsigned char>(label[end]) & 0xC0) == 0x80) {
        --end;
    }
    return label.substr(0, end);
}

// Which label, as the log names it.
std::string labelText(int database, int entry) {
    return (database == kSourceDatabase ? "source " : "destination ") + std::to_string(entry);
}

}  // namespace

RouterMirror::RouterMirror(DeviceBus& devices, NameStore& store, EventLog& log, ChangeFeed& feed)
    : devices_(devices),
      store_(store),
      log_(log),
      feed_(feed),
      crosspoints_(store.crosspoints(UmdWall::kRouter)) {}

bool RouterMirror::configure(const std::string& endpoint) {
    device_ = devices_.lookup(UmdWall::kRouter).value_or(0);
    if (device_ == 0) {
        return false;
    }
    endpoint_ = endpoint;
    return true;
}

void RouterMirror::apply(const RouterUpdate& update) {
    if (device_ == 0) {
        return;
    }
    writeLabels(kSourceDatabase, update.sourceLabels);
    writeLabels(kDestinationDatabase, update.destinationLabels);
    route(update.crosspoints);
    if (update.link != RouterUpdate::Link::Unchanged) {
        const bool connected = update.link == RouterUpdate::Link::Up;
        state_ = connected ? "connected" : "disconnected";
        detail_ = update.detail;
        feed_.publish(RouterLinkChanged{connected, detail_});
    }
}

void RouterMirror::writeLabels(int database, const std::map<int, std::string>& labels) {
    for (const auto& [entry, label] : labels) {
        if (entry < 1 || entry > kSignals) {
            continue;
        }
        const std::string taken = clipped(label);
        const std::string text = ControlCharacters::spaced(taken);
        if (devices_.readName(device_, database, entry) == text) {
            continue;
        }
        if (const auto control = ControlCharacters::first(taken)) {
            log_.add(0, "warning",
                     ControlCharacters::refusal(
                         "the router's label for " + labelText(database, entry), *control) +
                         "; taken with a space for each run of them");
        }
        const HostResult written = devices_.writeName(kWriter, device_, database, entry, text);
        // A label the store did not take the device bus has logged already,
        // naming the writer and the entry; what it refused is logged here.
        const bool storeFailed = written.status == HostResult::Status::Failed ||
                                 written.status == HostResult::Status::Unavailable;
        if (!written.ok() && !storeFailed) {
            log_.add(0, "error",
                     "the router's label for entry " + std::to_string(entry) + " of database " +
                         std::to_string(database) + " was not taken: " + written.error);
        }
    }
}

void RouterMirror::route(const std::map<int, int>& crosspoints) {
    std::map<int, int> changed;
    for (const auto& [destination, source] : crosspoints) {
        if (destination >= 1 && destination <= kSignals &&
            RouterMirror::source(destination) != source) {
            changed[destination] = source >= 1 && source <= kSignals ? source : 0;
        }
    }
    if (changed.empty()) {
        return;
    }
    try {
        store_.writeCrosspoints(UmdWall::kRouter, changed);
    } catch (const StoreError& error) {
        // The displays follow the router all the same; only a restart
        // would fall back to the routing stored before.
        log_.add(0, "error", std::string("router crosspoints not saved: ") + error.what());
    }
    for (const auto& [destination, source] : changed) {
        publish(destination, source, "");
    }
}

void RouterMirror::takeStored(int destination, int source) {
    if (destination < 1 || destination > kSignals || RouterMirror::source(destination) == source) {
        return;
    }
    publish(destination, source, " (stored by another host)");
}

void RouterMirror::publish(int destination, int source, const std::string& note) {
    crosspoints_[destination] = source;
    log_.add(0, "info",
             "router: destination " + std::to_string(destination) +
                 (source == 0 ? " routed to no source the device holds"
                              : " routed to source " + std::to_string(source)) +
                 note);
    feed_.publish(CrosspointChanged{destination, source});
}

int RouterMirror::source(int destination) const {
    const auto found = crosspoints_.find(destination);
    return found == crosspoints_.end() ? 0 : found->second;
}

nlohmann::json RouterMirror::toJson() const {
    if (endpoint_.empty()) {
        return {{"enabled", false}};
    }
    return {{"enabled", true}, {"router", endpoint_}, {"state", state_}, {"detail", detail_}};
}

}  // namespace panelhost
