#pragma once

// Marks the one symbol a panel plugin exports. Everything else is built with
// hidden visibility, so the plugin's only entry is the factory.
#if defined(_WIN32)
#define TOVI_EXPORT __declspec(dllexport)
#else
#define TOVI_EXPORT __attribute__((visibility("default")))
#endif
