// The plugin's one export and, on Windows, its entry point.
#include <new>

#include "NamesetEditor.h"
#include "tovi_export.h"

#if defined(_WIN32)
#include <windows.h>

// Thread attach and detach notifications are of no use to the panel.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}
#endif

// Creates one panel instance for `host` with the layout folder `path`. The
// host owns the result and destroys it through its virtual destructor.
// Returns null when the object cannot be made; no exception reaches the host.
extern "C" TOVI_EXPORT tovi_client_callback* load_tovi_client_script(tovi_client_callback* host,
                                                                      const char* path) {
    try {
        return new (std::nothrow) NamesetEditor(host, path);
    } catch (...) {
        return nullptr;
    }
}
