#pragma once

#include "tovi_client_callback.h"

namespace panelhost {

class HostEngine;

// The host object one script receives at load. It carries the id of its
// panel instance, so every command is known to come from that instance. The
// engine must outlive it.
class HostCallback final : public tovi_client_callback {
  public:
    HostCallback(HostEngine& engine, int instance) : engine_(engine), instance_(instance) {}

    void* deliver(void* data, int type) override;

  private:
    HostEngine& engine_;
    int instance_;
};

}  // namespace panelhost
