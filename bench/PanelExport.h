#pragma once

#include "tovi_client_callback.h"

// The plugin's export, compiled into the benchmark from the panel's own
// source, so a start-up is measured exactly as a host makes a panel. The
// caller owns the result and destroys it with delete.
extern "C" tovi_client_callback* load_tovi_client_script(tovi_client_callback* host,
                                                         const char* path);
