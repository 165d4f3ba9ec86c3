#pragma once

#include <optional>
#include <string>

namespace panelhost {

// What an account or token may do; each role may do everything the ones
// before it may. Viewer: read everything. Operator: also operate the panels
// (events, host messages). Engineer: also write names and slots, import
// name sets. Admin: also manage accounts and tokens.
enum class Role { Viewer = 0, Operator = 1, Engineer = 2, Admin = 3 };

// "viewer", "operator", "engineer", "admin".
std::string roleName(Role role);
// The role of one of those names; nothing for any other text.
std::optional<Role> parseRole(const std::string& name);
// Whether `held` may do what `needed` may.
inline bool reaches(Role held, Role needed) {
    return static_cast<int>(held) >= static_cast<int>(needed);
}

}  // namespace panelhost
