#include "ConfigFile.h"

#include <toml++/toml.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>
#include <vector>

namespace panelhost {
namespace {

// Options about the file itself, or with nothing to set.
const std::vector<std::string> kUnkeyed = {"help", "config", "print-config"};

bool keyed(const CLI::Option& option) {
    const std::vector<std::string>& names = option.get_lnames();
    return !names.empty() &&
           std::find(kUnkeyed.begin(), kUnkeyed.end(), names.front()) == kUnkeyed.end();
}

bool isFlag(const CLI::Option& option) {
    return option.get_expected_min() == 0;
}

bool takesMany(const CLI::Option& option) {
    return option.get_items_expected_max() > 1;
}

// Numbers are written bare; everything else is a quoted TOML string.
bool isNumber(const CLI::Option& option) {
    // The type's own name, without what its checks add ("INT:INT in [0 - 9]").
    const std::string full = option.get_type_name();
    const std::string type = full.substr(0, full.find(':'));
    return type == "INT" || type == "UINT" || type == "FLOAT" || type == "NUMBER";
}

std::string where(const std::filesystem::path& file, const toml::source_region& region) {
    return file.string() + ":" + std::to_string(region.begin.line) + ": ";
}

// One scalar TOML value as the command line would have given it.
bool scalarText(const toml::node& node, std::string& text) {
    if (const auto* value = node.as_string()) {
        text = value->get();
    } else if (const auto* integer = node.as_integer()) {
        text = std::to_string(integer->get());
    } else if (const auto* floating = node.as_floating_point()) {
        std::ostringstream out;
        out << floating->get();
        text = out.str();
    } else if (const auto* boolean = node.as_boolean()) {
        text = boolean->get() ? "true" : "false";
    } else {
        return false;
    }
    return true;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

std::string tomlValue(const CLI::Option& option, const std::string& text) {
    return isNumber(option) ? text : quoted(text);
}

// The option's values in force as command-line texts; empty when none.
std::vector<std::string> current(const CLI::Option& option) {
    if (option.count() > 0) {
        return option.results();
    }
    const std::string fallback = option.get_default_str();
    if (fallback.empty() || takesMany(option)) {
        return {};
    }
    return {fallback};
}

void applyKey(CLI::App& app, const std::filesystem::path& file, const toml::key& key,
              const toml::node& node) {
    const std::string name(key.str());
    if (node.is_table()) {
        throw ConfigFileError(where(file, key.source()) +
                              "sections are not used; write \"KEY = VALUE\" lines at the top");
    }
    CLI::Option* option = app.get_option_no_throw("--" + name);
    if (option == nullptr || !keyed(*option)) {
        throw ConfigFileError(where(file, key.source()) + "unknown key \"" + name + "\"");
    }
    if (option->count() > 0) {
        return;  // the command line gave it
    }
    const std::string at = where(file, node.source());
    std::vector<std::string> texts;
    if (const auto* array = node.as_array()) {
        if (!takesMany(*option)) {
            throw ConfigFileError(at + name + " takes one value, not a list");
        }
        for (const toml::node& element : *array) {
            std::string text;
            if (!scalarText(element, text)) {
                throw ConfigFileError(at + name + ": a list of texts is expected");
            }
            texts.push_back(text);
        }
    } else {
        std::string text;
        if (!scalarText(node, text)) {
            throw ConfigFileError(at + name + ": a text, number or truth value is expected");
        }
        texts.push_back(text);
    }
    if (isFlag(*option)) {
        if (!node.is_boolean()) {
            throw ConfigFileError(at + name + " must be true or false");
        }
        texts = {option->get_flag_value(name, texts.front())};
    }
    if (texts.empty()) {
        return;
    }
    try {
        option->add_result(texts);
        option->run_callback();
    } catch (const CLI::Error& error) {
        // The command line's texts name the option ("--port: ..."); the
        // file's name the key.
        std::string reason = error.what();
        const std::string optionName = "--" + name + ": ";
        if (reason.rfind(optionName, 0) == 0) {
            reason.erase(0, optionName.size());
        }
        throw ConfigFileError(at + name + ": " + reason);
    }
}

}  // namespace

void ConfigFile::apply(CLI::App& app, const std::filesystem::path& file) {
    toml::table table;
    try {
        table = toml::parse_file(file.string());
    } catch (const toml::parse_error& error) {
        const toml::source_region& region = error.source();
        if (region.begin.line == 0) {
            throw ConfigFileError(file.string() + ": " + std::string(error.description()));
        }
        throw ConfigFileError(where(file, region) + std::string(error.description()));
    }
    for (const auto& [key, node] : table) {
        applyKey(app, file, key, node);
    }
}

std::map<std::string, std::string> ConfigFile::values(const CLI::App& app) {
    std::map<std::string, std::string> found;
    for (const CLI::Option* option : app.get_options()) {
        if (!keyed(*option)) {
            continue;
        }
        const std::string name = option->get_lnames().front();
        if (isFlag(*option)) {
            const bool set = option->count() > 0 &&
                             option->results().front() == option->get_flag_value(name, "true");
            found[name] = set ? "true" : "false";
            continue;
        }
        const std::vector<std::string> texts = current(*option);
        if (texts.empty()) {
            continue;
        }
        if (takesMany(*option)) {
            std::string list = "[";
            for (std::size_t i = 0; i < texts.size(); ++i) {
                list += (i > 0 ? ", " : "") + tomlValue(*option, texts[i]);
            }
            found[name] = list + "]";
        } else {
            found[name] = tomlValue(*option, texts.front());
        }
    }
    return found;
}

void ConfigFile::print(const CLI::App& app, std::ostream& out) {
    const std::map<std::string, std::string> inForce = values(app);
    for (const CLI::Option* option : app.get_options()) {
        if (!keyed(*option)) {
            continue;
        }
        const std::string name = option->get_lnames().front();
        std::string help = option->get_description();
        std::replace(help.begin(), help.end(), '\n', ' ');
        out << "# " << help << "\n";
        const auto value = inForce.find(name);
        if (value == inForce.end()) {
            out << "# " << name << " is not set\n";
        } else {
            out << name << " = " << value->second << "\n";
        }
    }
}

}  // namespace panelhost
