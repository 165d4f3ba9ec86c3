#pragma once

#include <map>
#include <string>

namespace panelhost {

// News from a real router behind the router device, as the engine takes it
// (RouterMirror::apply): entries, destinations and sources count from 1 as
// the router device's databases do. A plain value, handed from the thread
// that follows the router to the engine's thread.
struct RouterUpdate {
    enum class Link { Unchanged, Up, Down };

    Link link = Link::Unchanged;
    // Up: what is followed, e.g. "matrix 0.1.0 'matrix', 16 x 16"; Down:
    // why the link is down.
    std::string detail;
    // Source labels (database 0) and destination labels (database 2) by
    // entry.
    std::map<int, std::string> sourceLabels;
    std::map<int, std::string> destinationLabels;
    // Destination -> the source routed to it, 0 for none.
    std::map<int, int> crosspoints;

    bool empty() const {
        return link == Link::Unchanged && sourceLabels.empty() && destinationLabels.empty() &&
               crosspoints.empty();
    }
};

}  // namespace panelhost
