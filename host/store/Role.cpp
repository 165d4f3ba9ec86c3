#include "Role.h"

#include <array>
#include <utility>

namespace panelhost {
namespace {

constexpr std::array<std::pair<Role, const char*>, 4> kNames = {{{Role::Viewer, "viewer"},
                                                                 {Role::Operator, "operator"},
                                                                 {Role::Engineer, "engineer"},
                                                                 {Role::Admin, "admin"}}};

}  // namespace

std::string roleName(Role role) {
    for (const auto& [known, name] : kNames) {
        if (known == role) {
            return name;
        }
    }
    return "viewer";
}

std::optional<Role> parseRole(const std::string& name) {
    for (const auto& [role, known] : kNames) {
        if (name == known) {
            return role;
        }
    }
    return std::nullopt;
}

}  // namespace panelhost
