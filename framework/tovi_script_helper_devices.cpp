// Device lookup: the host knows devices by instance name, the commands need
// their numbers.
#include <cstdlib>

#include "decodeTOVIString.h"
#include "tovi_command_line.h"
#include "tovi_script_helper.h"

bool tovi_script_helper::findDevice(tovi_string instanceName, int* deviceOut, int* secondOut) {
    if (deviceOut != nullptr) {
        *deviceOut = 0;
    }
    if (secondOut != nullptr) {
        *secondOut = 0;
    }
    if (host == nullptr) {
        return false;
    }
    tovi_command_line<kTextLineBytes> line;
    line << "SD '" << instanceName << "'";
    void* const answer = send(line.text());
    if (answer == nullptr) {
        return false;
    }
    {
        // The host answers the number first, optionally a second number.
        const decodeTOVIString fields(static_cast<const char*>(answer), '\'');
        if (deviceOut != nullptr) {
            *deviceOut = std::atoi(fields.fields[0]);
        }
        if (secondOut != nullptr) {
            *secondOut = std::atoi(fields.fields[1]);
        }
    }
    handBack(answer);
    return true;
}
