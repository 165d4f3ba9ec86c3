#pragma once

#include <string>

#include "ApiSnapshot.h"

namespace panelhost {

// The event stream's first message: what the page's first view (the
// panels) needs, from one snapshot, so that it draws without asking for
// anything more:
//   event: start
//   data: {"session": ..., "devices": ..., "panels": ..., "names": [...]}
// followed by a blank line. `session` is `sessionJson`, as GET /api/session
// answers; `devices` and `panels` are the answers of GET /api/devices and
// GET /api/panels, `names` those of GET /api/devices/{n}/databases/{n} for
// every name set the panels show as captions. The other views read what
// they show as before. Pure; any thread.
std::string streamStartText(const ApiSnapshot& snapshot, const std::string& sessionJson);

}  // namespace panelhost
