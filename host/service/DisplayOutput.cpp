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

nlohmann::json tallyJson(const tsl::TslTally& tally) {
    return {{"right", tsl::toString(tally.right)},
            {"text", tsl::toString(tally.text)},
            {"left", tsl::toString(tally.left)},
            {"tallies31", tally.tallies31}};
}

nlohmann::json receiverJson(const tsl::TslTransportStatus& status) {
    return {{"target", status.target},
            {"state", tsl::toString(status.state)},
            {"detail", status.detail},
            {"packetsSent", status.packetsSent},
            {"packetsDropped", status.packetsDropped}};
}

}  // namespace

DisplayOutput::DisplayOutput(const tsl::TslOutputConfig& config, EngineThread& engine,
                             ChangeFeed& feed, EventLog& log, const TallyInputs::Config& tallies)
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
    start(config, tallies);
}

DisplayOutput::DisplayOutput(const tsl::TslOutputConfig& config,
                             std::vector<std::unique_ptr<tsl::TslTransport>> transports,
                             EngineThread& engine, ChangeFeed& feed, EventLog& log,
                             const TallyInputs::Config& tallies)
    : engine_(engine), feed_(feed), log_(log), subscription_(feed.subscribe()) {
    output_ = std::make_unique<tsl::TslOutput>(
        config, std::move(transports),
        [this](const std::string& summary) { log_.add(0, "tsl", summary); });
    start(config, tallies);
}

void DisplayOutput::start(const tsl::TslOutputConfig& config, const TallyInputs::Config& tallies) {
    drivers_.assign(config.targets.size(), Driver{config.drivenAtStart, std::nullopt});
    for (const tsl::TslTarget& target : config.targets) {
        log_.add(0, "info", "display output to " + target.toString());
    }
    for (const std::string& warning : output_->warnings()) {
        log_.add(0, "warning", warning);
    }
    if (!tallies.inputs.empty()) {
        try {
            tallies_ = std::make_unique<TallyInputs>(tallies, config.indexOffset, feed_, log_);
        } catch (const std::runtime_error& error) {
            feed_.unsubscribe(subscription_);
            throw std::invalid_argument(error.what());
        }
    }
    sendWall("output started");
    thread_ = std::thread([this] { run(); });
}

DisplayOutput::~DisplayOutput() {
    tallies_.reset();
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
                          [this](const DisplayTallyChanged& event) { follow(event); },
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
    output_->setName(event.index, shownName(event.index));
    feed_.publish(DisplayNameSent{event.index});
    for (int destination = 1; destination <= UmdWall::kSourceCount; ++destination) {
        if (wall_.routed[static_cast<std::size_t>(destination - 1)] == event.index) {
            sendRouted(destination);
        }
    }
}

void DisplayOutput::follow(const DisplayTallyChanged& event) {
    std::vector<tsl::TslDisplayUpdate> sources;
    std::vector<tsl::TslDisplayUpdate> routed;
    for (const DisplayTallyChanged::Lamps& lamps : event.sources) {
        if (lamps.source < 1 || lamps.source > UmdWall::kSourceCount) {
            continue;
        }
        sources.push_back({lamps.source, shownName(lamps.source), tallyOf(lamps.source)});
        for (int destination = 1; destination <= UmdWall::kSourceCount; ++destination) {
            if (wall_.routed[static_cast<std::size_t>(destination - 1)] == lamps.source) {
                routed.push_back(
                    {destination, wall_.routedName(destination), routedTally(destination)});
            }
        }
    }
    // The sources of one packet from the mixer go out together.
    output_->setDisplays(sources, false);
    if (!routed.empty() && output_->followsRouter()) {
        output_->setDisplays(routed, true);
        for (const tsl::TslDisplayUpdate& update : routed) {
            feed_.publish(DisplayRoutedSent{update.number});
        }
    }
}

std::string DisplayOutput::shownName(int source) const {
    const std::string& name = wall_.names[static_cast<std::size_t>(source - 1)];
    return name.empty() && tallies_ ? tallies_->board().label(source) : name;
}

tsl::TslTally DisplayOutput::tallyOf(int source) const {
    return tallies_ ? tallies_->board().tally(source) : tsl::TslTally{};
}

tsl::TslTally DisplayOutput::routedTally(int destination) const {
    return tallyOf(wall_.routed[static_cast<std::size_t>(destination - 1)]);
}

void DisplayOutput::sendRouted(int destination) {
    {
        const std::lock_guard<std::mutex> lock(routedMutex_);
        routedSources_ = wall_.routed;
    }
    if (!output_->followsRouter()) {
        return;
    }
    output_->setDisplays({{destination, wall_.routedName(destination), routedTally(destination)}},
                         true);
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
    tsl::TslOutput::Tallies tallies{};
    tsl::TslOutput::Tallies routedTallies{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        names[i] = shownName(number);
        routed[i] = wall_.routedName(number);
        tallies[i] = tallyOf(number);
        routedTallies[i] = routedTally(number);
    }
    output_->setTallies(tallies, routedTallies);
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
                            {"tally", tallyJson(display.tally)},
                            {"sent", display.sent},
                            {"exact", display.exact}});
        if (tallies_) {
            displays.back()["tallyFrom"] = tallies_->board().inputsOf(static_cast<int>(i) + 1);
        }
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
    nlohmann::json inputs = nlohmann::json::array();
    if (tallies_) {
        for (const TallyBoard::InputStatus& input :
             tallies_->board().inputs(TallyBoard::Clock::now())) {
            using Seconds = std::chrono::duration<double>;
            inputs.push_back({{"input", input.input},
                              {"packets", input.packets},
                              {"dropped", input.dropped},
                              {"stale", input.stale},
                              {"silentSeconds",
                               input.silentFor ? nlohmann::json(Seconds(*input.silentFor).count())
                                               : nlohmann::json(nullptr)}});
        }
        result["tallyStaleSeconds"] =
            std::chrono::duration<double>(tallies_->board().staleAfter()).count();
    }
    result["tallyInputs"] = inputs;
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
                              {"tally", tallyJson(display.tally)},
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
