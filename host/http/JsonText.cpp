#include "JsonText.h"

namespace panelhost {

std::string jsonText(const nlohmann::json& value) {
    constexpr int kCompact = -1;
    return value.dump(kCompact, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace panelhost
