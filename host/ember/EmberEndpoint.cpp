#include "EmberEndpoint.h"

#include <algorithm>
#include <cctype>

namespace ember {
namespace {

constexpr unsigned long kMaxPort = 65535;

}  // namespace

bool EmberEndpoint::parse(const std::string& text, EmberEndpoint& out, std::string& error) {
    out = EmberEndpoint();
    const std::size_t comma = text.find(',');
    const std::string address = text.substr(0, comma);
    std::size_t colon = std::string::npos;
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string::npos || close + 1 >= address.size() ||
            address[close + 1] != ':') {
            error = "expected [IPV6]:PORT in '" + text + "'";
            return false;
        }
        out.host = address.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = address.rfind(':');
        if (colon == std::string::npos) {
            error = "expected HOST:PORT in '" + text + "'";
            return false;
        }
        out.host = address.substr(0, colon);
    }
    const std::string port = address.substr(colon + 1);
    if (out.host.empty() || port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return std::isdigit(c) != 0; }) ||
        std::stoul(port) == 0 || std::stoul(port) > kMaxPort) {
        error = "expected HOST:PORT with a port from 1 to 65535 in '" + text + "'";
        return false;
    }
    out.port = static_cast<std::uint16_t>(std::stoul(port));
    if (comma == std::string::npos) {
        return true;
    }
    const std::string option = text.substr(comma + 1);
    static const std::string kMatrix = "matrix=";
    if (option.compare(0, kMatrix.size(), kMatrix) != 0) {
        error = "unknown option '" + option + "' (expected matrix=PATH)";
        return false;
    }
    return MatrixSelector::parse(option.substr(kMatrix.size()), out.matrix, error);
}

std::string EmberEndpoint::toString() const {
    const bool v6 = host.find(':') != std::string::npos;
    std::string text = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    if (!matrix.toString().empty()) {
        text += ",matrix=" + matrix.toString();
    }
    return text;
}

}  // namespace ember
