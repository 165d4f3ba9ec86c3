#pragma once

#include <mutex>
#include <string>

#include "TslTransport.h"

namespace tsl {

// The status a sender shares between its worker thread and its callers,
// and the reporting of its changes to the host's callback.
class SenderStatus {
  public:
    // `callback` may be empty; otherwise it is called (without any lock of
    // this object held) whenever the state or the detail changes.
    SenderStatus(std::string target, TslStatusCallback callback);

    void set(TslLinkState state, std::string detail);
    void countSent();
    void countDropped();
    TslTransportStatus snapshot() const;

  private:
    mutable std::mutex mutex_;
    TslTransportStatus status_;
    TslStatusCallback callback_;
};

}  // namespace tsl
