#include "ModuleBundle.h"

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace panelhost {
namespace {

// An import of names from a module path; the statement may span lines.
const std::regex kImport(R"(^import\s*\{([^}]*)\}\s*from\s*'([^']+)'\s*;\s*$)");
const std::regex kExport(R"(^export (class|function|async function|const) ([A-Za-z_$][\w$]*))");
const std::regex kName(R"(^\s*([A-Za-z_$][\w$]*)\s*$)");

// Whether `line` starts with the keyword `word` (then a space or a brace).
bool startsWith(const std::string& line, const std::string& word) {
    return line.rfind(word + " ", 0) == 0 || line.rfind(word + "{", 0) == 0;
}

// Follows where a module's text is, line by line, so that its lines of
// comment alone can be left out of the bundle (a quarter of its
// compressed bytes): a line is one when it starts outside any string, template
// literal or block comment and holds nothing but a "//" comment. A
// regular expression literal is taken for a division: the front end has
// none with a quote, a backtick or a comment's start in it.
class CommentLines {
  public:
    // Whether `line`, the one after those asked about before, is only a
    // comment.
    bool onlyComment(const std::string& line) {
        const std::size_t first = line.find_first_not_of(" \t");
        const bool comment = nesting_.back() == In::Code && first != std::string::npos &&
                             line.compare(first, 2, "//") == 0;
        follow(line);
        return comment;
    }

  private:
    enum class In { Code, Template, BlockComment };

    void follow(const std::string& line) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            const char next = i + 1 < line.size() ? line[i + 1] : '\0';
            switch (nesting_.back()) {
                case In::BlockComment:
                    if (c == '*' && next == '/') {
                        nesting_.pop_back();
                        ++i;
                    }
                    break;
                case In::Template:
                    if (c == '\\') {
                        ++i;
                    } else if (c == '`') {
                        nesting_.pop_back();
                    } else if (c == '$' && next == '{') {
                        nesting_.push_back(In::Code);
                        braces_.push_back(0);
                        ++i;
                    }
                    break;
                case In::Code:
                    if (c == '/' && next == '/') {
                        return;
                    }
                    if (c == '/' && next == '*') {
                        nesting_.push_back(In::BlockComment);
                        ++i;
                    } else if (c == '\'' || c == '"') {
                        // A quoted string ends on its line.
                        for (++i; i < line.size() && line[i] != c; ++i) {
                            if (line[i] == '\\') {
                                ++i;
                            }
                        }
                    } else if (c == '`') {
                        nesting_.push_back(In::Template);
                    } else if (c == '{' && !braces_.empty()) {
                        ++braces_.back();
                    } else if (c == '}' && !braces_.empty() && braces_.back()-- == 0) {
                        // The end of a template literal's ${...}.
                        braces_.pop_back();
                        nesting_.pop_back();
                    }
                    break;
            }
        }
    }

    // Innermost last: code, template literals and the code of their
    // ${...} within them, a block comment.
    std::vector<In> nesting_{In::Code};
    // The braces open in each ${...} of the nesting, innermost last.
    std::vector<int> braces_;
};

class Bundler {
  public:
    explicit Bundler(const ModuleBundle::Reader& read) : read_(read) {}

    // Adds `path` after every module it imports; the variable of its
    // exports.
    std::string add(const std::filesystem::path& path) {
        const std::string key = path.generic_string();
        if (const auto done = variables_.find(key); done != variables_.end()) {
            return done->second;
        }
        if (!open_.insert(key).second) {
            throw std::runtime_error(key + ": its imports come back to it");
        }
        const std::optional<std::string> source = read_(path);
        if (!source) {
            throw std::runtime_error(key + ": no such module");
        }
        std::string imports;
        std::string body;
        std::vector<std::string> exported;
        CommentLines comments;
        std::istringstream lines(*source);
        std::string line;
        while (std::getline(lines, line)) {
            if (startsWith(line, "import")) {
                std::string statement = line;
                while (statement.find(';') == std::string::npos && std::getline(lines, line)) {
                    statement += " " + line;
                }
                imports += importLine(path, statement);
                continue;
            }
            if (comments.onlyComment(line)) {
                continue;
            }
            std::smatch declared;
            if (std::regex_search(line, declared, kExport)) {
                exported.push_back(declared[2]);
                line.erase(0, std::string("export ").size());
            } else if (startsWith(line, "export")) {
                throw std::runtime_error(key + ": cannot bundle \"" + line + "\"");
            }
            body += line + "\n";
        }
        open_.erase(key);
        const std::string variable = "module" + std::to_string(variables_.size());
        variables_[key] = variable;
        text_ += "// " + key + "\nconst " + variable + " = (() => {\n" + imports + body +
                 "return {" + (exported.empty() ? "" : " " + joined(exported) + " ") +
                 "};\n})();\n";
        return variable;
    }

    const std::string& text() const { return text_; }

  private:
    // `const { A, B } = moduleN;` for one import statement of `path`.
    std::string importLine(const std::filesystem::path& path, const std::string& statement) {
        std::smatch parts;
        if (!std::regex_match(statement, parts, kImport)) {
            throw std::runtime_error(path.generic_string() + ": cannot bundle \"" + statement +
                                     "\"");
        }
        const std::string from = parts[2];
        if (from.rfind("./", 0) != 0 && from.rfind("../", 0) != 0) {
            throw std::runtime_error(path.generic_string() + ": imports " + from +
                                     ", not a module of the folder");
        }
        const std::filesystem::path target = (path.parent_path() / from).lexically_normal();
        if (target.empty() || *target.begin() == "..") {
            throw std::runtime_error(path.generic_string() + ": imports " + from +
                                     ", outside the folder");
        }
        std::vector<std::string> names;
        std::istringstream list(parts[1].str());
        std::string item;
        while (std::getline(list, item, ',')) {
            std::smatch name;
            if (std::regex_match(item, name, kName)) {
                names.push_back(name[1]);
            } else if (item.find_first_not_of(" \t") != std::string::npos) {
                throw std::runtime_error(path.generic_string() + ": cannot bundle the import \"" +
                                         item + "\"");
            }
        }
        return "const { " + joined(names) + " } = " + add(target) + ";\n";
    }

    static std::string joined(const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) {
            text += (text.empty() ? "" : ", ") + name;
        }
        return text;
    }

    const ModuleBundle::Reader& read_;
    // The variable that holds each module's exports, by its path.
    std::map<std::string, std::string> variables_;
    // The modules whose imports are being added: one met again is a cycle.
    std::set<std::string> open_;
    std::string text_;
};

}  // namespace

std::string ModuleBundle::of(const std::filesystem::path& entry, const Reader& read) {
    Bundler bundler(read);
    bundler.add(entry.lexically_normal());
    return bundler.text();
}

}  // namespace panelhost
