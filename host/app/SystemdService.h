#pragma once

#include <string>

namespace panelhost {

// What the host tells the service manager, and what it learns from it. Each
// call is a no-op outside a service (no NOTIFY_SOCKET, no journal), so the
// program runs alike from a terminal. Any thread.
class SystemdService {
  public:
    // The port is served: a unit of Type=notify counts as started now.
    static void ready(const std::string& status);
    // A reload has begun; ready() ends it.
    static void reloading();
    static void stopping();
    // Whether standard error is the journal's stream, as the service
    // manager says in JOURNAL_STREAM (device and inode of that stream).
    static bool stderrIsJournal();
};

}  // namespace panelhost
