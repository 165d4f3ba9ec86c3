#include "UtcTime.h"

#include <chrono>
#include <ctime>

namespace panelhost {

std::string utcNow() {
    constexpr int kMillisPerSecond = 1000;
    constexpr int kMillisDigits = 3;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        kMillisPerSecond;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char date[sizeof "YYYY-MM-DDTHH:MM:SS"];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &parts);
    std::string fraction = std::to_string(millis);
    fraction.insert(0, static_cast<std::size_t>(kMillisDigits) - fraction.size(), '0');
    return std::string(date) + "." + fraction + "Z";
}

}  // namespace panelhost
