#pragma once

#include <string>

namespace panelhost {

// The current time in UTC as ISO 8601 with milliseconds, e.g.
// 2024-05-01T09:30:00.250Z.
std::string utcNow();

}  // namespace panelhost
