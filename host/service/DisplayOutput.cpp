#include "DisplayOutput.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>
#include <variant>

#include "TslTransport.h"

namespace panelhost {
namespace {

// How long the thread waits for changes before it checks the refresh.
constexpr std::chrono::milliseconds kTickPeriod{250};
// How long the senders may take with what they hold at shutdown.
constexpr std::chrono::milliseconds kFlushTime{500};

// Calls the overload of the given callables that takes the event's kind.
template <class... Callables>
struct Overloaded : Callables... {
    using Callables::operator()...;
};
template <class... Callables>
Overloaded(Callables...) -> Overloaded<Callables...>;

nlohmann::json receiverJson(const tsl::TslTransportStatus& status) {
    return {{"target", status.target},
            {"state", tsl::toString(status.state)},
            {"detail", status.detail},
            {"packetsSent", status.packetsSent},
            {"packetsDropped", status.packetsDropped}};
}

}  // namespace

DisplayOutput::DisplayOutput(const tsl::TslOutputConfig& config, EngineThread& engine,
                             ChangeFeed& feed, EventLog& log)
    : engine_(engine), feed_(feed), log_(log), subscription_(feed.subscribe()) {
    output_ = tsl::TslOutput::create(
        config, [this](const std::string& summary) { log_.add(0, "tsl", summary); },
        [this](const tsl::TslTransportStatus& status) {
            const bool trouble = status.state == tsl::TslLinkState::Error;
            log_.add(0, trouble ? "warning" : "info",
                     "display output " + status.target + ": " + status.detail);
            feed_.publish(DisplayReceiverChanged{status.target, tsl::toString(status.state),
                                                 status.detail, status.packetsSent,
                                                 status.packetsDropped});
        });
    start(config);
}

DisplayOutput::DisplayOutput(const tsl::TslOutputConfig& config,
                             std::vector<std::unique_ptr<tsl::TslTransport>> transports,
                             EngineThread& engine, ChangeFeed& feed, EventLog& log)
    : engine_(engine), feed_(feed), log_(log), subscription_(feed.subscribe()) {
    output_ = std::make_unique<tsl::TslOutput>(
        config, std::move(transports),
        [this](const std::string& summary) { log_.add(0, "tsl", summary); });
    start(config);
}

void DisplayOutput::start(const tsl::TslOutputConfig& config) {
    drivers_.assign(config.targets.size(), Driver{config.drivenAtStart, std::nullopt});
    for (const tsl::TslTarget& target : config.targets) {
        log_.add(0, "info", "display output to " + target.toString());
    }
    for (const std::string& warning : output_->warnings()) {
        log_.add(0, "warning", warning);
    }
    sendWall("output started");
    thread_ = std::thread([this] { run(); });
}

DisplayOutput::~DisplayOutput() {
    feed_.unsubscribe(subscription_);
    if (thread_.joinable()) {
        thread_.join();
    }
    output_->flush(kFlushTime);
}

void DisplayOutput::run() {
    try {
        for (;;) {
            const std::vector<Change> changes = subscription_->wait(kTickPeriod);
            if (subscription_->lagged()) {
                // What was taken predates the wall catchUp() reads.
                catchUp();
                continue;
            }
            if (subscription_->closed()) {
                return;
            }
            for (const Change& change : changes) {
                follow(change);
            }
            output_->tick();
        }
    } catch (const std::runtime_error&) {
        // The engine has stopped: the host is shutting down.
    }
}

void DisplayOutput::catchUp() {
    // Following again before the wall is read loses nothing: a change
    // after the read arrives through the feed.
    if (!feed_.resubscribe(subscription_)) {
        return;  // ended meanwhile: the next wait says so
    }
    log_.add(0, "warning",
             "display output fell more than " + std::to_string(ChangeFeed::kBacklog) +
                 " changes behind the host; it follows again from the whole wall");
    sendWall("after falling behind");
}

void DisplayOutput::follow(const Change& change) {
    std::visit(Overloaded{[this](const CrosspointChanged& event) { follow(event); },
                          [this](const SlotChanged& event) { follow(event); },
                          [this](const NameChanged& event) { follow(event); },
                          // Panels, instances, the log and the output's own
                          // reports change nothing the displays show.
                          [](const auto&) {}},
               change.event);
}

void DisplayOutput::follow(const CrosspointChanged& event) {
    if (event.destination >= 1 && event.destination <= UmdWall::kSourceCount) {
        wall_.routed[static_cast<std::size_t>(event.destination - 1)] = event.source;
        sendRouted(event.destination);
    }
}

void DisplayOutput::follow(const SlotChanged& event) {
    if (event.device != wall_.tallyDevice) {
        return;
    }
    if (event.index == UmdWall::kNamesetSlot) {
        sendWall("slot 212 changed");
    } else if (event.index == UmdWall::kBrightnessSlot) {
        wall_.brightness = UmdWall::brightnessOf(event.text);
        output_->setBrightness(wall_.brightness);
        feed_.publish(DisplayBrightnessSent{});
    }
}

void DisplayOutput::follow(const NameChanged& event) {
    if (!wall_.shows(event.device, event.database) || event.index < 1 ||
        event.index > UmdWall::kSourceCount) {
        return;
    }
    wall_.names[static_cast<std::size_t>(event.index - 1)] = event.text;
    output_->setName(event.index, event.text);
    feed_.publish(DisplayNameSent{event.index});
    for (int destination = 1; destination <= UmdWall::kSourceCount; ++destination) {
        if (wall_.routed[static_cast<std::size_t>(destination - 1)] == event.index) {
            sendRouted(destination);
        }
    }
}

void DisplayOutput::sendRouted(int destination) {
    {
        const std::lock_guard<std::mutex> lock(routedMutex_);
        routedSources_ = wall_.routed;
    }
    if (!output_->followsRouter()) {
        return;
    }
    output_->setRoutedName(destination, wall_.routedName(destination));
    feed_.publish(DisplayRoutedSent{destination});
}

void DisplayOutput::sendWall(const std::string& why) {
    wall_ = engine_.call([](HostEngine& engine) {
        return UmdWall::read(engine.devices(), engine.router().crosspoints());
    });
    {
        const std::lock_guard<std::mutex> lock(routedMutex_);
        routedSources_ = wall_.routed;
    }
    tsl::TslOutput::Names names;
    tsl::TslOutput::Names routed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = wall_.names[i];
        routed[i] = wall_.routedName(static_cast<int>(i) + 1);
    }
    output_->setWall(names, routed, wall_.brightness);
    bool drivesAny = false;
    {
        const std::lock_guard<std::mutex> lock(driversMutex_);
        for (const Driver& driver : drivers_) {
            drivesAny = drivesAny || driver.driving;
        }
    }
    log_.add(0, "info",
             "display output: whole wall " + std::string(drivesAny ? "sent" : "ready") + " (" +
                 why + "), name set " + std::to_string(wall_.nameset) +
                 (drivesAny ? "" : "; this host drives no receiver now"));
    feed_.publish(DisplayWallSent{wall_.nameset});
}

void DisplayOutput::setDriver(std::size_t target, bool driving, std::optional<std::string> driver) {
    {
        const std::lock_guard<std::mutex> lock(driversMutex_);
        if (target >= drivers_.size()) {
            return;
        }
        Driver& known = drivers_[target];
        if (known.driving == driving && known.name == driver) {
            return;
        }
        known = Driver{driving, driver};
    }
    output_->setDriven(target, driving);
    feed_.publish(DisplayDriverChanged{target + 1, driving, std::move(driver)});
}

nlohmann::json DisplayOutput::statusJson() const {
    const tsl::TslWallSnapshot sent = output_->lastSent();
    nlohmann::json displays = nlohmann::json::array();
    for (std::size_t i = 0; i < sent.displays.size(); ++i) {
        const tsl::TslDisplayState& display = sent.displays[i];
        displays.push_back({{"source", i + 1},
                            {"index", display.index},
                            {"text", display.text},
                            {"brightness", display.brightness},
                            {"sent", display.sent},
                            {"exact", display.exact}});
        if (!display.shownAs.empty()) {
            displays.back()["shownAs"] = display.shownAs;
        }
        if (!display.unsentTo.empty()) {
            displays.back()["unsentTo"] = display.unsentTo;
        }
    }
    std::vector<Driver> drivers;
    {
        const std::lock_guard<std::mutex> lock(driversMutex_);
        drivers = drivers_;
    }
    nlohmann::json receivers = nlohmann::json::array();
    for (const tsl::TslTransportStatus& status : output_->transportStatus()) {
        nlohmann::json receiver = receiverJson(status);
        const Driver& driver = drivers.at(receivers.size());
        receiver["driving"] = driver.driving;
        receiver["driver"] = driver.name ? nlohmann::json(*driver.name) : nlohmann::json(nullptr);
        receivers.push_back(std::move(receiver));
    }
    nlohmann::json result = {{"enabled", true},
                             {"packets", sent.packets},
                             {"fullRefreshes", sent.fullRefreshes},
                             {"receivers", receivers},
                             {"displays", displays}};
    if (output_->followsRouter()) {
        std::array<int, UmdWall::kSourceCount> sources{};
        {
            const std::lock_guard<std::mutex> lock(routedMutex_);
            sources = routedSources_;
        }
        nlohmann::json routed = nlohmann::json::array();
        for (std::size_t i = 0; i < sent.routed.size(); ++i) {
            const tsl::TslDisplayState& display = sent.routed[i];
            routed.push_back({{"destination", i + 1},
                              {"source", sources[i]},
                              {"index", display.index},
                              {"text", display.text},
                              {"sent", display.sent},
                              {"exact", display.exact}});
            if (!display.shownAs.empty()) {
                routed.back()["shownAs"] = display.shownAs;
            }
            if (!display.unsentTo.empty()) {
                routed.back()["unsentTo"] = display.unsentTo;
            }
        }
        result["routed"] = routed;
    }
    return result;
}

}  // namespace panelhost
