#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Role.h"

namespace panelhost {

// The least role each route of the HTTP API needs (docs/http-api.md); a rule
// without a role is open to anyone, with no account.
struct AccessRule {
    const char* method;
    // Segments; "{n}" stands for a number, "{name}" for any one segment.
    const char* path;
    std::optional<Role> least;
};

// Who may call what: viewers read everything, operators also operate the
// panels, engineers also write names and slots, admins also manage
// accounts. A path the table does not name needs a viewer to read it and
// an admin for anything else under /api/ (so a route added without a rule
// is closed rather than open); outside /api/ (the front end's files, which
// hold no data) reading is open to anyone. Paths are matched as the router
// matches them: decoded, without the query. Pure and immutable: any thread.
class AccessTable {
  public:
    static const std::vector<AccessRule>& rules();

    // The rule that names the request (HEAD as GET); null when none does.
    static const AccessRule* ruleFor(const std::string& method, const std::string& path);

    // The least role for the request; nothing when anyone may make it.
    static std::optional<Role> leastRole(const std::string& method, const std::string& path);
    // Whether a client holding `role` (nothing: not logged in) may make it.
    static bool allowed(std::optional<Role> role, const std::string& method,
                        const std::string& path);
};

}  // namespace panelhost
