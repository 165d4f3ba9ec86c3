#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace panelhost {

// The front end's JavaScript modules as one script, so that a page asks
// for its code once rather than once per module: a browser opens six
// connections to a host, so on a slow network every six modules cost a
// round trip more. The bundle of an entry module holds every module it
// imports, directly or not, each once and before the modules that import
// it; each runs in a function of its own that returns what it exports, so
// that names that are not exported stay its own. Lines that hold only a
// comment are left out.
//
// The modules may use the forms the front end uses, and only those:
//   import { A, B } from './Module.js';   (a relative path; may span lines)
//   export class A / export function a / export async function a /
//   export const A
// at the start of a line. Anything else that starts a line with "import"
// or "export" (a default export, renaming, "import *", "export let",
// whose value could change after it was read), an import cycle, and a
// path that leads out of the folder are refused, naming the module.
class ModuleBundle {
  public:
    // The text of the file `path` (relative to the web folder), or nothing
    // when there is none.
    using Reader = std::function<std::optional<std::string>(const std::filesystem::path& path)>;

    // The bundle of `entry` (a path relative to the web folder, e.g.
    // "js/main.js"). Throws std::runtime_error saying what it cannot
    // bundle. Pure but for `read`; any thread.
    static std::string of(const std::filesystem::path& entry, const Reader& read);
};

}  // namespace panelhost
