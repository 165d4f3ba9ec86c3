#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace panelhost {

// The JSON text of `value`, as the HTTP API and the event stream send it.
// Texts from scripts are bytes, not always UTF-8 (a single-byte code page, a
// name cut inside a character): invalid sequences come out as U+FFFD instead
// of failing the answer or the change that carries them.
std::string jsonText(const nlohmann::json& value);

}  // namespace panelhost
