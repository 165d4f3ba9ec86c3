// The bundle of the front end's modules: every module an entry imports,
// directly or not, comes once and after what it imports, with its imports
// read from the modules that export them and its lines of comment alone
// left out; what the bundler cannot carry over faithfully is refused,
// naming the module.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "ModuleBundle.h"

namespace {

using panelhost::ModuleBundle;

std::string bundleOf(const std::map<std::string, std::string>& files, const std::string& entry) {
    return ModuleBundle::of(entry, [&files](const std::filesystem::path& path) {
        const auto file = files.find(path.generic_string());
        return file == files.end() ? std::nullopt : std::optional<std::string>(file->second);
    });
}

}  // namespace

TEST(ModuleBundle, BringsEachModuleOnceAfterWhatItImports) {
    // main imports a view and a control; both import the base, which
    // comes first and once. Each keeps its own NOTICE_MS.
    const std::string bundle = bundleOf(
        {
            {"js/main.js",
             "import { View } from './View.js';\n"
             "import {\n  Button,\n  LABEL,\n} from './controls/Button.js';\n"
             "new View(new Button(LABEL));\n"},
            {"js/View.js",
             "import { Base } from './controls/Base.js';\n"
             "// A view.\n  // Indented.\n"
             "const NOTICE_MS = 5;\nexport class View extends Base {}\n"
             "const page = `<p>\n// kept: inside a template ${`nested ${{ a: 1 }.a}`}\n`;\n"
             "/* a block\n// kept: inside a block comment\n*/\n"
             "const url = '//host'; // after code\n"
             "// left out again\n"},
            {"js/controls/Button.js",
             "import { Base } from './Base.js';\n"
             "const NOTICE_MS = 7;\nexport class Button extends Base {}\n"
             "export const LABEL = 'x';\n"
             "export async function press() {}\n"},
            {"js/controls/Base.js", "export class Base {}\nexport function made() {}\n"},
        },
        "js/main.js");
    const auto at = [&bundle](const std::string& text) {
        const std::size_t found = bundle.find(text);
        EXPECT_NE(found, std::string::npos) << text;
        EXPECT_EQ(bundle.find(text, found + 1), std::string::npos) << text << " twice";
        return found;
    };
    const std::size_t base =
        at("const module0 = (() => {\nclass Base {}\nfunction made() {}\n"
           "return { Base, made };\n})();");
    const std::size_t view = at("const { Base } = module0;\nconst NOTICE_MS = 5;\nclass View");
    // Lines of comment alone are left out, the same text elsewhere is not.
    EXPECT_EQ(bundle.find("A view."), std::string::npos);
    EXPECT_EQ(bundle.find("Indented."), std::string::npos);
    EXPECT_EQ(bundle.find("left out again"), std::string::npos);
    at("\n// kept: inside a template ${`nested ${{ a: 1 }.a}`}\n`;\n");
    at("\n// kept: inside a block comment\n*/\n");
    at("const url = '//host'; // after code\n");
    const std::size_t button = at("const { Base } = module0;\nconst NOTICE_MS = 7;\nclass Button");
    at("return { Button, LABEL, press };");
    const std::size_t main =
        at("const { View } = module1;\nconst { Button, LABEL } = module2;\nnew View(");
    EXPECT_LT(base, view);
    EXPECT_LT(view, button);
    EXPECT_LT(button, main);
    EXPECT_EQ(bundle.find("export "), std::string::npos);
    EXPECT_EQ(bundle.find("import "), std::string::npos);
}

TEST(ModuleBundle, RefusesWhatItCannotCarryOver) {
    const std::map<std::string, std::map<std::string, std::string>> refused = {
        {"a cycle",
         {{"a.js", "import { B } from './b.js';\n"}, {"b.js", "import { A } from './a.js';\n"}}},
        {"a missing module", {{"a.js", "import { B } from './b.js';\n"}}},
        {"a renamed import",
         {{"a.js", "import { B as C } from './b.js';\n"}, {"b.js", "export const B = 1;\n"}}},
        {"a default export", {{"a.js", "export default 1;\n"}}},
        {"an export list", {{"a.js", "const A = 1;\nexport { A };\n"}}},
        {"a changing export", {{"a.js", "export let A = 1;\n"}}},
        {"a namespace import", {{"a.js", "import * as b from './b.js';\n"}, {"b.js", ""}}},
        {"an import from elsewhere", {{"a.js", "import { B } from 'https://example.org/b.js';\n"}}},
        {"an import above the folder",
         {{"a.js", "import { B } from '../b.js';\n"}, {"../b.js", ""}}},
    };
    for (const auto& [what, files] : refused) {
        EXPECT_THROW(bundleOf(files, "a.js"), std::runtime_error) << what;
    }
}
