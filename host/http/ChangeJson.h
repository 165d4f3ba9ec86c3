#pragma once

#include <string>

#include "ChangeFeed.h"

namespace panelhost {

// The event stream's text of one change, the only place a change becomes
// JSON:
//   id: <id>
//   event: <type>
//   data: <JSON object>
// followed by a blank line. The types and fields are the browser's (see
// docs/http-api.md): instance, control, panel, slot, database, crosspoint,
// router, log and tsl. Texts that are not UTF-8 come out with U+FFFD in
// place of each invalid sequence (jsonText()). Pure; any thread.
std::string changeStreamText(const Change& change);

}  // namespace panelhost
