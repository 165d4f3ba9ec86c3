#include "LayoutParser.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <pugixml.hpp>
#include <set>
#include <sstream>

namespace panelhost {
namespace {

constexpr const char* kRootElement = "panel";
constexpr const char* kStatesheetElement = "statesheet";
constexpr const char* kMemberElement = "member";

// Attributes every control needs: its name and its place on the panel.
constexpr const char* kGeometry[] = {"x", "y", "width", "height"};

// Group members are addressed as "button.NNN", NNN their number from 001.
constexpr int kMemberDigits = 3;

struct KindName {
    const char* element;
    ControlKind kind;
};
constexpr KindName kKinds[] = {
    {"button", ControlKind::Button},     {"label", ControlKind::Label},
    {"list", ControlKind::List},         {"buttongroup", ControlKind::ButtonGroup},
    {"keyboard", ControlKind::Keyboard},
};

class Checker {
  public:
    Checker(const std::string& text, const std::string& file) : text_(text), file_(file) {}

    [[noreturn]] void fail(std::ptrdiff_t offset, const std::string& message) const {
        throw LayoutError(file_ + ":" + std::to_string(lineAt(offset)) + ": " + message);
    }

    [[noreturn]] void fail(const pugi::xml_node& node, const std::string& message) const {
        fail(node.offset_debug(), message);
    }

    int lineAt(std::ptrdiff_t offset) const {
        if (offset < 0) {
            return 1;
        }
        const auto end = text_.begin() + std::min<std::ptrdiff_t>(
                                             offset, static_cast<std::ptrdiff_t>(text_.size()));
        return 1 + static_cast<int>(std::count(text_.begin(), end, '\n'));
    }

    int number(const pugi::xml_node& node, const char* attribute, int minimum) const {
        const pugi::xml_attribute found = node.attribute(attribute);
        if (!found) {
            fail(node,
                 std::string("<") + node.name() + "> lacks the attribute \"" + attribute + "\"");
        }
        const std::string value = found.value();
        int result = 0;
        const char* end = value.data() + value.size();
        const auto parsed = std::from_chars(value.data(), end, result);
        if (value.empty() || parsed.ec != std::errc() || parsed.ptr != end || result < minimum) {
            fail(node, std::string("attribute \"") + attribute +
                           "\" must be a whole number of at least " + std::to_string(minimum) +
                           ", not \"" + value + "\"");
        }
        return result;
    }

  private:
    const std::string& text_;
    const std::string& file_;
};

std::string memberKey(std::size_t position) {
    char digits[kMemberDigits + 1];
    std::snprintf(digits, sizeof digits, "%0*zu", kMemberDigits, position);
    return std::string("button.") + digits;
}

Statesheet readStatesheet(const Checker& check, const pugi::xml_node& node) {
    Statesheet sheet;
    sheet.name = node.attribute("name").value();
    if (sheet.name.empty()) {
        check.fail(node, "<statesheet> needs a non-empty \"name\"");
    }
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        if (std::string(attribute.name()) != "name") {
            sheet.style[attribute.name()] = attribute.value();
        }
    }
    return sheet;
}

void readMembers(const Checker& check, const pugi::xml_node& node, ControlSpec& controlSpec) {
    std::set<std::string> values;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (std::string(child.name()) != kMemberElement) {
            check.fail(child,
                       std::string("<") + child.name() + "> is not allowed in a buttongroup");
        }
        GroupMember member{child.attribute("value").value(), child.attribute("text").value()};
        if (member.value.empty()) {
            check.fail(child, "<member> needs a non-empty \"value\"");
        }
        if (!values.insert(member.value).second) {
            check.fail(child, "member value \"" + member.value + "\" appears twice");
        }
        controlSpec.members.push_back(member);
        controlSpec.properties[memberKey(controlSpec.members.size())] = "released";
    }
    if (controlSpec.members.empty()) {
        check.fail(node, "buttongroup \"" + controlSpec.name + "\" has no <member>");
    }
}

void checkFlag(const Checker& check, const pugi::xml_node& node, const ControlSpec& controlSpec,
               const char* flag) {
    const std::string& value = controlSpec.properties.at(flag);
    if (value != "true" && value != "false") {
        check.fail(node, std::string("attribute \"") + flag + "\" must be true or false, not \"" +
                             value + "\"");
    }
}

ControlSpec readControl(const Checker& check, const pugi::xml_node& node, ControlKind kind) {
    ControlSpec controlSpec;
    controlSpec.kind = kind;
    controlSpec.line = check.lineAt(node.offset_debug());
    controlSpec.name = node.attribute("name").value();
    if (controlSpec.name.empty()) {
        check.fail(node, std::string("<") + node.name() + "> needs a non-empty \"name\"");
    }
    if (controlSpec.name.find('\'') != std::string::npos) {
        check.fail(node,
                   "control name \"" + controlSpec.name + "\" must not contain an apostrophe");
    }
    for (const char* attribute : kGeometry) {
        check.number(node, attribute, 0);
    }
    controlSpec.properties = {
        {"text", ""}, {"statesheet", ""}, {"enabled", "true"}, {"visible", "true"}};
    if (kind == ControlKind::List) {
        check.number(node, "items", 1);
        check.number(node, "pageSize", 1);
        controlSpec.properties["page"] = "1";
        controlSpec.properties["index"] = "0";
    }
    if (kind == ControlKind::ButtonGroup) {
        controlSpec.properties["value"] = "";
        readMembers(check, node, controlSpec);
    } else if (node.first_child().type() == pugi::node_element) {
        check.fail(node.first_child(), std::string("<") + node.name() + "> holds no elements");
    }
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        if (std::string(attribute.name()) != "name") {
            controlSpec.properties[attribute.name()] = attribute.value();
        }
    }
    checkFlag(check, node, controlSpec, "enabled");
    checkFlag(check, node, controlSpec, "visible");
    return controlSpec;
}

const KindName* kindOf(const pugi::xml_node& node) {
    for (const KindName& entry : kKinds) {
        if (std::string(node.name()) == entry.element) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

Layout LayoutParser::parseFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw LayoutError(path.string() + ":1: cannot be opened");
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return parseText(contents.str(), path.string());
}

Layout LayoutParser::parseText(const std::string& text, const std::string& file) {
    const Checker check(text, file);
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
    if (!parsed) {
        check.fail(parsed.offset, std::string("not well-formed XML: ") + parsed.description());
    }
    const pugi::xml_node root = document.document_element();
    if (std::string(root.name()) != kRootElement) {
        check.fail(root, std::string("the root element must be <") + kRootElement + ">, not <" +
                             root.name() + ">");
    }
    Layout layout;
    layout.file = file;
    layout.title = root.attribute("title").value();
    layout.width = check.number(root, "width", 1);
    layout.height = check.number(root, "height", 1);
    for (const pugi::xml_attribute& attribute : root.attributes()) {
        const std::string name = attribute.name();
        if (name != "title" && name != "width" && name != "height") {
            layout.style[name] = attribute.value();
        }
    }

    std::set<std::string> names;
    std::vector<std::pair<pugi::xml_node, std::string>> sheetUses;
    for (const pugi::xml_node& node : root.children()) {
        if (node.type() != pugi::node_element) {
            continue;
        }
        if (std::string(node.name()) == kStatesheetElement) {
            Statesheet sheet = readStatesheet(check, node);
            if (layout.statesheet(sheet.name) != nullptr) {
                check.fail(node, "statesheet \"" + sheet.name + "\" is defined twice");
            }
            layout.statesheets.push_back(std::move(sheet));
            continue;
        }
        const KindName* kind = kindOf(node);
        if (kind == nullptr) {
            check.fail(node, std::string("unknown element <") + node.name() + ">");
        }
        ControlSpec controlSpec = readControl(check, node, kind->kind);
        if (!names.insert(controlSpec.name).second) {
            check.fail(node, "control \"" + controlSpec.name + "\" is defined twice");
        }
        if (!controlSpec.properties["statesheet"].empty()) {
            sheetUses.emplace_back(node, controlSpec.properties["statesheet"]);
        }
        layout.controls.push_back(std::move(controlSpec));
    }
    for (const auto& [node, sheet] : sheetUses) {
        if (layout.statesheet(sheet) == nullptr) {
            check.fail(node, "statesheet \"" + sheet + "\" is not defined in this file");
        }
    }
    return layout;
}

}  // namespace panelhost
