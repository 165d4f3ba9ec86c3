#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RouterModel.h"

namespace ember {

// What an EmberConsumer reports. Every call comes from the consumer's own
// thread, one at a time, never while the consumer holds a lock; an
// implementation must return quickly and must not block (hand the news to
// its own queue), or keep-alives and updates stall behind it. The listener
// must outlive the consumer.
class EmberConsumerListener {
  public:
    enum class Signal { Target, Source };

    virtual ~EmberConsumerListener() = default;

    // The matrix was found and read: all labels and connections known.
    // Later changes arrive through the calls below.
    virtual void onConnected(const RouterModel& model) = 0;
    // The link is down: the provider went away, could not be reached, sent
    // malformed data or has no such matrix. Retries follow with back-off;
    // the same failure is reported once, not at every retry.
    virtual void onDisconnected(const std::string& reason) = 0;
    virtual void onLabelChanged(Signal signal, std::int32_t number, const std::string& label) = 0;
    virtual void onConnectionChanged(std::int32_t target,
                                     const std::vector<std::uint32_t>& sources) = 0;
};

}  // namespace ember
