#include "RouterLink.h"

#include <exception>

#include "RouterMirror.h"

namespace panelhost {
namespace {

// The device's entry of a router signal, or 0 when the device has none.
int entryOf(std::int64_t number) {
    return number >= 0 && number < RouterMirror::kSignals ? static_cast<int>(number) + 1 : 0;
}

int sourceEntry(const std::vector<std::uint32_t>& sources) {
    return sources.empty() ? 0 : entryOf(sources.front());
}

void mergeInto(RouterUpdate& into, RouterUpdate&& update) {
    if (update.link != RouterUpdate::Link::Unchanged) {
        into.link = update.link;
        into.detail = std::move(update.detail);
    }
    for (auto& [entry, label] : update.sourceLabels) {
        into.sourceLabels[entry] = std::move(label);
    }
    for (auto& [entry, label] : update.destinationLabels) {
        into.destinationLabels[entry] = std::move(label);
    }
    for (const auto& [destination, source] : update.crosspoints) {
        into.crosspoints[destination] = source;
    }
}

}  // namespace

RouterLink::RouterLink(const ember::EmberEndpoint& endpoint, EngineThread& engine, EventLog& log)
    : engine_(engine), log_(log), name_("router " + endpoint.toString()) {
    log_.add(0, "info", name_ + ": following it for the router device");
    consumer_ = std::make_unique<ember::EmberConsumer>(
        endpoint, static_cast<ember::EmberConsumerListener&>(*this));
}

RouterLink::~RouterLink() {
    consumer_.reset();
}

void RouterLink::onConnected(const ember::RouterModel& model) {
    RouterUpdate update;
    update.link = RouterUpdate::Link::Up;
    update.detail = "matrix " + model.matrixPath + " '" + model.matrixIdentifier + "', " +
                    std::to_string(model.targetCount) + " targets x " +
                    std::to_string(model.sourceCount) + " sources";
    for (const auto& [number, label] : model.sourceLabels) {
        if (const int entry = entryOf(number)) {
            update.sourceLabels[entry] = label;
        }
    }
    for (const auto& [number, label] : model.targetLabels) {
        if (const int entry = entryOf(number)) {
            update.destinationLabels[entry] = label;
        }
    }
    for (const std::int32_t target : model.targets) {
        const int destination = entryOf(target);
        if (destination == 0) {
            continue;
        }
        const auto found = model.connections.find(target);
        update.crosspoints[destination] =
            found == model.connections.end() ? 0 : sourceEntry(found->second);
    }
    log_.add(0, "info", name_ + ": connected, following " + update.detail);
    deliver(std::move(update));
}

void RouterLink::onDisconnected(const std::string& reason) {
    log_.add(0, "warning",
             name_ + ": " + reason + "; the last known labels and crosspoints stay in use");
    RouterUpdate update;
    update.link = RouterUpdate::Link::Down;
    update.detail = reason;
    deliver(std::move(update));
}

void RouterLink::onLabelChanged(Signal signal, std::int32_t number, const std::string& label) {
    const int entry = entryOf(number);
    if (entry == 0) {
        return;
    }
    RouterUpdate update;
    (signal == Signal::Source ? update.sourceLabels : update.destinationLabels)[entry] = label;
    deliver(std::move(update));
}

void RouterLink::onConnectionChanged(std::int32_t target,
                                     const std::vector<std::uint32_t>& sources) {
    const int destination = entryOf(target);
    if (destination == 0) {
        return;
    }
    RouterUpdate update;
    update.crosspoints[destination] = sourceEntry(sources);
    deliver(std::move(update));
}

void RouterLink::deliver(RouterUpdate update) {
    bool handOver = false;
    {
        const std::lock_guard<std::mutex> lock(inbox_->mutex);
        mergeInto(inbox_->pending, std::move(update));
        handOver = !inbox_->handedOver;
        inbox_->handedOver = true;
    }
    if (!handOver) {
        return;
    }
    EventLog& log = log_;
    engine_.submit([inbox = inbox_, &log](HostEngine& engine) {
        RouterUpdate taken;
        {
            const std::lock_guard<std::mutex> lock(inbox->mutex);
            taken = std::move(inbox->pending);
            inbox->pending = RouterUpdate();
            inbox->handedOver = false;
        }
        try {
            engine.applyRouter(taken);
        } catch (const std::exception& error) {
            log.add(0, "error", std::string("router update not applied: ") + error.what());
        }
    });
}

}  // namespace panelhost
