#pragma once

#include <string>

#include "ApiSnapshot.h"

namespace panelhost {

// What the page's first view (the panels) needs, from one snapshot, so that
// it draws without asking for anything more:
//   {"state": DIGEST, "session": ..., "devices": ..., "panels": ...,
//    "names": [...]}
// `session` is `sessionJson`, as GET /api/session answers; `devices` and
// `panels` are the answers of GET /api/devices and GET /api/panels, `names`
// those of GET /api/devices/{n}/databases/{n} for every name set the panels
// show as captions. DIGEST names the rest but the session: two states with
// the same DIGEST show the same. The other views read what they show as
// before. Pure; any thread.
std::string startStateJson(const ApiSnapshot& snapshot, const std::string& sessionJson);

// The event stream's first message, "event: start" with a data line and a
// blank line. Its data is startStateJson(), or just {"session": ...,
// "same": DIGEST} when `since` is the DIGEST of the snapshot's state: the
// page holds that state already (its own answer brought it), and the
// changes after it follow on the stream.
std::string streamStartText(const ApiSnapshot& snapshot, const std::string& sessionJson,
                            const std::string& since);

}  // namespace panelhost
