#include "SystemdService.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace panelhost {
namespace {

// A notification is a datagram; nothing of the host waits on it, and a
// manager that is gone only means nobody listens.
void notify(const std::string& state) {
    sd_notify(0, state.c_str());
}

}  // namespace

void SystemdService::ready(const std::string& status) {
    notify("READY=1\nSTATUS=" + status);
}

void SystemdService::reloading() {
    notify("RELOADING=1");
}

void SystemdService::stopping() {
    notify("STOPPING=1");
}

bool SystemdService::stderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (stream == nullptr || fstat(STDERR_FILENO, &status) != 0) {
        return false;
    }
    return std::string(stream) ==
           std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

}  // namespace panelhost
