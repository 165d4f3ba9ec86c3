// The host command set: each operation builds exactly one command line and
// hands it to the host.
#include <cstring>

#include "tovi_command_line.h"
#include "tovi_debug_output.h"
#include "tovi_script_helper.h"

namespace {
// Slot texts longer than this are still sent, with a warning first.
constexpr unsigned kMaxInfodriverText = 256;

const char kTextGetMismatch[] =
    "textGet: value returned \"%1\" was not the value requested \"%2\" (value returned was "
    "\"%3\" from control \"%4\", on panel \"%5\")";
}  // namespace

void tovi_script_helper::sendControlCommand(const char* word, const tovi_string& panel,
                                            const tovi_string& control) {
    tovi_command_line<kTextLineBytes> line;
    line << word << " '" << panel << "' '" << control << "'";
    send(line.text());
}

void tovi_script_helper::disableControl(const tovi_string& panel, const tovi_string& control) {
    sendControlCommand("CD", panel, control);
}

void tovi_script_helper::enableControl(const tovi_string& panel, const tovi_string& control) {
    sendControlCommand("CE", panel, control);
}

void tovi_script_helper::hideControl(const tovi_string& panel, const tovi_string& control) {
    sendControlCommand("CH", panel, control);
}

void tovi_script_helper::showControl(const tovi_string& panel, const tovi_string& control) {
    sendControlCommand("CS", panel, control);
}

bool tovi_script_helper::sendPanelCommand(const char* word, const tovi_string& panel,
                                          const tovi_string& layoutFile,
                                          const tovi_string& extra) {
    if (host == nullptr) {
        return true;
    }
    tovi_command_line<kTextLineBytes> line;
    line << word << " '" << panel << "' '";
    if (!panelPath.isEmpty()) {
        line << panelPath << "/";
    }
    line << layoutFile << "'";
    if (!extra.isEmpty()) {
        line << " '" << extra << "'";
    }
    return send(line.text()) != nullptr;
}

bool tovi_script_helper::loadPanel(const tovi_string& panel, const tovi_string& layoutFile,
                                   const tovi_string& extra) {
    return sendPanelCommand("PI", panel, layoutFile, extra);
}

bool tovi_script_helper::showPanel(const tovi_string& panel, const tovi_string& layoutFile,
                                   const tovi_string& extra) {
    return sendPanelCommand("PS", panel, layoutFile, extra);
}

bool tovi_script_helper::removePanel(const tovi_string& panel) {
    if (host == nullptr) {
        return true;
    }
    tovi_command_line<kTextLineBytes> line;
    line << "PR '" << panel << "'";
    return send(line.text()) != nullptr;
}

void tovi_script_helper::putText(const tovi_string& text, const tovi_string& panel,
                                 const tovi_string& control) {
    tovi_command_line<kTextLineBytes> line;
    line << "TP '" << text << "' '" << panel << "' '" << control << "'";
    send(line.text());
}

void tovi_script_helper::putProperty(const tovi_string& property, const tovi_string& value,
                                     const tovi_string& panel, const tovi_string& control) {
    tovi_command_line<kTextLineBytes> line;
    line << "TP '" << property << "=" << value << "' '" << panel << "' '" << control << "'";
    send(line.text());
}

bool tovi_script_helper::textGet(const tovi_string& property, const tovi_string& panel,
                                 const tovi_string& control, tovi_string& result) {
    if (host == nullptr) {
        result = "";
        return false;
    }
    tovi_command_line<kTextLineBytes> line;
    line << "TG '" << panel << "' '" << control << "' '" << property << "'";
    void* const answer = send(line.text());
    if (answer == nullptr) {
        result = "";
        return false;
    }
    const char* const text = static_cast<const char*>(answer);
    if (property == "all") {
        result = text;
        handBack(answer);
        return true;
    }
    // The answer is property=value: the property runs to the first '=',
    // so a value that itself holds '=' comes back whole.
    const char* const equals = std::strchr(text, '=');
    const std::size_t nameLength = equals ? static_cast<std::size_t>(equals - text)
                                          : std::strlen(text);
    if (nameLength == property.length() && std::memcmp(text, property.data(), nameLength) == 0) {
        result = equals ? equals + 1 : "";
        handBack(answer);
        return true;
    }
    const tovi_string whole(text);
    handBack(answer);
    const tovi_string returned(whole.data(), nameLength);
    debugOut(kTextGetMismatch, returned, property, whole, control, panel, "", "", "", "");
    result = "";
    return false;
}

void tovi_script_helper::startTimer(int timerId, int interval) {
    tovi_command_line<kNumericLineBytes> line;
    line << "ET " << timerId;
    if (interval != 0) {
        line << " " << interval;
    }
    send(line.text());
}

void tovi_script_helper::stopTimer(int timerId) { startTimer(timerId, 0); }

void tovi_script_helper::sendRangeCommand(const char* word, int device, int from, int to,
                                          bool add) {
    tovi_command_line<kNumericLineBytes> line;
    line << word << " " << device << " " << from << " " << to;
    if (add) {
        line << " 'ADD'";
    }
    send(line.text());
}

void tovi_script_helper::registerInfodriver(int device, int from, int to, bool add) {
    sendRangeCommand("IR", device, from, to, add);
}

void tovi_script_helper::unregisterInfodriver(int device) {
    tovi_command_line<kNumericLineBytes> line;
    line << "IU " << device;
    send(line.text());
}

void tovi_script_helper::pollInfodriver(int device, int from, int to) {
    sendRangeCommand("IP", device, from, to, false);
}

void tovi_script_helper::registerRouter(int device, int from, int to, bool add) {
    sendRangeCommand("RR", device, from, to, add);
}

void tovi_script_helper::writeInfodriver(int device, const tovi_string& text, int index,
                                         bool flag) {
    if (text.length() > kMaxInfodriverText) {
        debugOut("The IW string is too long (max 256 chars)\n");
    }
    tovi_command_line<kTextLineBytes> line;
    line << "IW " << device << " '" << text << "' " << index << " ";
    line.appendFlag(flag);
    send(line.text());
}

void tovi_script_helper::readName(int device, int database, int index, tovi_string& name) {
    if (host == nullptr) {
        return;
    }
    tovi_command_line<kNumericLineBytes> line;
    line << "RN " << device << " " << database << " " << index;
    void* const answer = send(line.text());
    if (answer != nullptr) {
        name = static_cast<const char*>(answer);
    }
    handBack(answer);
}

void tovi_script_helper::writeName(int device, int database, int index, const tovi_string& name,
                                   bool flag) {
    tovi_command_line<kTextLineBytes> line;
    line << "RM " << device << " " << database << " " << index << " '" << name << "' ";
    line.appendFlag(flag);
    send(line.text());
    line << "\n";
    tovi_debug_write(line.text());
}

void tovi_script_helper::debugOut(const tovi_string& text) { tovi_debug_write(text.data()); }

void tovi_script_helper::debugOut(const tovi_string& format, const tovi_string& value1,
                                  const tovi_string& value2, const tovi_string& value3,
                                  const tovi_string& value4, const tovi_string& value5,
                                  const tovi_string& value6, const tovi_string& value7,
                                  const tovi_string& value8, const tovi_string& value9) {
    debugOut(format.arg(
        {value1, value2, value3, value4, value5, value6, value7, value8, value9}));
}
