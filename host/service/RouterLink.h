#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "EmberConsumer.h"
#include "EmberConsumerListener.h"
#include "EmberEndpoint.h"
#include "EngineThread.h"
#include "EventLog.h"
#include "RouterUpdate.h"

namespace panelhost {

// Backs the router device with a real router: follows one matrix of an
// Ember+ provider on the consumer's own thread and hands what it reports to
// the engine's thread as RouterUpdates (numbers shifted from the router's
// 0 up to the device's 1 up; a target fed by several sources shows its
// first). What arrives while the engine has not yet taken the last update
// is merged into it (the latest label per entry, the latest source per
// destination), so the wait is bounded by the matrix size and nothing is
// dropped. Logs the link going up and down. The engine thread and the log
// must outlive it; destroy it before the engine thread stops.
class RouterLink : private ember::EmberConsumerListener {
  public:
    // Starts following at once; the first news arrives when the matrix has
    // been read.
    RouterLink(const ember::EmberEndpoint& endpoint, EngineThread& engine, EventLog& log);
    // Stops the consumer (within about a second); an update already handed
    // to the engine's thread is still applied there.
    ~RouterLink() override;

    RouterLink(const RouterLink&) = delete;
    RouterLink& operator=(const RouterLink&) = delete;

  private:
    // What waits for the engine's thread; shared with the work handed to
    // it, which may run after the link is gone.
    struct Inbox {
        std::mutex mutex;
        RouterUpdate pending;
        bool handedOver = false;
    };

    void onConnected(const ember::RouterModel& model) override;
    void onDisconnected(const std::string& reason) override;
    void onLabelChanged(Signal signal, std::int32_t number, const std::string& label) override;
    void onConnectionChanged(std::int32_t target,
                             const std::vector<std::uint32_t>& sources) override;
    // Merges `update` into what waits, and hands the engine the work of
    // taking it unless that work is already waiting.
    void deliver(RouterUpdate update);

    EngineThread& engine_;
    EventLog& log_;
    const std::string name_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    // Last: it reports from its thread as soon as it exists.
    std::unique_ptr<ember::EmberConsumer> consumer_;
};

}  // namespace panelhost
