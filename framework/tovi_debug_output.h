#pragma once

// The platform's debug output: OutputDebugStringA on Windows, standard error
// elsewhere. A program that collects the lines itself (a test, a host that
// links the framework) may redirect them; the sink is process-wide.
using tovi_debug_sink = void (*)(const char* text, void* context);

// Sends every later line to `sink` with `context`; a null sink restores the
// platform's output.
void tovi_set_debug_sink(tovi_debug_sink sink, void* context) noexcept;

// Writes `text` unchanged; adds no line end.
void tovi_debug_write(const char* text) noexcept;
