#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "InvariantHost.h"

// Plays an operator and a studio at a panel from a stream of bytes (a fuzz
// input or a seeded random sequence): button presses on the panel shown,
// typing, revertives, database changes, timer ticks and host messages of
// every kind, well-formed or not. The InvariantHost checks every line.
class PanelExerciser {
  public:
    // Creates the panel through its export, runs the steps the bytes
    // describe, destroys the panel; returns every invariant violated.
    static std::vector<std::string> run(const std::uint8_t* data, std::size_t size);
};
