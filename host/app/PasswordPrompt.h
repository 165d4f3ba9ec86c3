#pragma once

#include <string>

namespace panelhost {

// Reads a password for the account commands. On a terminal it asks on
// standard error and reads without echo (echo comes back also when Ctrl-C
// interrupts); otherwise it reads one line of standard input, so that
// scripts and tests can feed it. The password is never written anywhere.
// Call from one thread only.
class PasswordPrompt {
  public:
    // Throws AccountError when nothing can be read, or when on a terminal
    // with `confirm` the second entry differs from the first.
    static std::string read(const std::string& prompt, bool confirm);
};

}  // namespace panelhost
