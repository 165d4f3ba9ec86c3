#include "HostCallback.h"

#include "HostEngine.h"

namespace panelhost {

void* HostCallback::deliver(void* data, int type) {
    return engine_.fromScript(instance_, data, type);
}

}  // namespace panelhost
