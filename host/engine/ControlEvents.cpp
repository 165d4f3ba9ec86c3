#include "ControlEvents.h"

#include <charconv>
#include <cstdio>

namespace panelhost {
namespace {

constexpr std::string_view kButtonEvent = "button=pressed";
constexpr std::string_view kSelectPrefix = "select=";
constexpr std::string_view kKeyPrefix = "key.";
constexpr int kMemberDigits = 3;

struct NamedKey {
    std::string_view name;
    char typed;  // the character it types; NUL for keys that type nothing
};
constexpr NamedKey kNamedKeys[] = {
    {"space", ' '}, {"period", '.'}, {"equals", '='}, {"backspace", '\0'}, {"return", '\0'},
};

ControlEvents::Outcome refuse(std::string message) {
    return ControlEvents::Outcome{std::move(message), {}};
}

void set(LoadedPanel::Properties& properties, ControlEvents::Outcome& outcome,
         const std::string& property, const std::string& value) {
    properties[property] = value;
    outcome.changes.push_back(PropertyChange{property, value});
}

ControlEvents::Outcome listEvent(const ControlSpec& controlSpec,
                                 LoadedPanel::Properties& properties, std::string_view event) {
    const std::string expected = "select=N with N from 1 to " + properties["items"];
    if (event.substr(0, kSelectPrefix.size()) != kSelectPrefix) {
        return refuse("list \"" + controlSpec.name + "\" sends " + expected);
    }
    const std::string_view row = event.substr(kSelectPrefix.size());
    int number = 0;
    int items = 0;
    const std::string& itemText = properties["items"];
    std::from_chars(itemText.data(), itemText.data() + itemText.size(), items);
    const auto parsed = std::from_chars(row.data(), row.data() + row.size(), number);
    if (row.empty() || parsed.ec != std::errc() || parsed.ptr != row.data() + row.size() ||
        number < 1 || number > items) {
        return refuse("list \"" + controlSpec.name + "\" sends " + expected);
    }
    ControlEvents::Outcome outcome;
    set(properties, outcome, "index", std::string(row));
    return outcome;
}

ControlEvents::Outcome groupEvent(const ControlSpec& controlSpec,
                                  LoadedPanel::Properties& properties, std::string_view event) {
    const std::string_view value = event.substr(kSelectPrefix.size());
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < controlSpec.members.size(); ++i) {
        if (controlSpec.members[i].value == value) {
            chosen = i + 1;
        }
    }
    if (event.substr(0, kSelectPrefix.size()) != kSelectPrefix || chosen == 0) {
        return refuse("buttongroup \"" + controlSpec.name +
                      "\" sends select=V with V the value of one of its members");
    }
    ControlEvents::Outcome outcome;
    set(properties, outcome, "value", std::string(value));
    for (std::size_t i = 1; i <= controlSpec.members.size(); ++i) {
        char key[sizeof "button." + kMemberDigits];
        std::snprintf(key, sizeof key, "button.%0*zu", kMemberDigits, i);
        set(properties, outcome, key, i == chosen ? "pressed" : "released");
    }
    return outcome;
}

ControlEvents::Outcome keyboardEvent(const ControlSpec& controlSpec,
                                     LoadedPanel::Properties& properties, std::string_view event) {
    const std::string usage = "keyboard \"" + controlSpec.name +
                              "\" sends key.K with K one printable character other than '.', '=' "
                              "and blank, or space, period, equals, backspace or return";
    if (event.substr(0, kKeyPrefix.size()) != kKeyPrefix) {
        return refuse(usage);
    }
    const std::string_view key = event.substr(kKeyPrefix.size());
    std::string text = properties["text"];
    bool known = false;
    for (const NamedKey& named : kNamedKeys) {
        if (key != named.name) {
            continue;
        }
        known = true;
        if (named.typed != '\0') {
            text.push_back(named.typed);
        } else if (key == "backspace" && !text.empty()) {
            text.pop_back();
        }
    }
    if (!known) {
        constexpr char kFirstPrintable = '!';
        constexpr char kLastPrintable = '~';
        if (key.size() != 1 || key[0] < kFirstPrintable || key[0] > kLastPrintable ||
            key[0] == '.' || key[0] == '=') {
            return refuse(usage);
        }
        text.push_back(key[0]);
    }
    if (text.size() > ControlEvents::kKeyboardCapacity) {
        return refuse("keyboard \"" + controlSpec.name + "\" is full (" +
                      std::to_string(ControlEvents::kKeyboardCapacity) + " characters)");
    }
    ControlEvents::Outcome outcome;
    if (text != properties["text"]) {
        set(properties, outcome, "text", text);
    }
    return outcome;
}

}  // namespace

ControlEvents::Outcome ControlEvents::apply(const ControlSpec& controlSpec,
                                            LoadedPanel::Properties& properties,
                                            std::string_view event) {
    switch (controlSpec.kind) {
        case ControlKind::Button:
            if (event != kButtonEvent) {
                return refuse("button \"" + controlSpec.name + "\" sends " +
                              std::string(kButtonEvent));
            }
            return Outcome{};
        case ControlKind::List:
            return listEvent(controlSpec, properties, event);
        case ControlKind::ButtonGroup:
            return groupEvent(controlSpec, properties, event);
        case ControlKind::Keyboard:
            return keyboardEvent(controlSpec, properties, event);
        case ControlKind::Label:
            break;
    }
    return refuse("label \"" + controlSpec.name + "\" sends no events");
}

}  // namespace panelhost
