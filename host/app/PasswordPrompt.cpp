#include "PasswordPrompt.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "AccountStore.h"

namespace panelhost {
namespace {

// The terminal's settings while echo is off, for the interrupt handler.
termios savedTerminal{};

extern "C" void restoreAndDie(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// Echo off on standard input for its lifetime, restored on the way out and
// on SIGINT or SIGTERM.
class EchoOff {
  public:
    EchoOff() {
        tcgetattr(STDIN_FILENO, &savedTerminal);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        struct sigaction restore {};
        restore.sa_handler = restoreAndDie;
        sigaction(SIGINT, &restore, &oldInterrupt_);
        sigaction(SIGTERM, &restore, &oldTerminate_);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        sigaction(SIGINT, &oldInterrupt_, nullptr);
        sigaction(SIGTERM, &oldTerminate_, nullptr);
        std::cerr << std::endl;  // the Enter the user typed was not echoed
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    struct sigaction oldInterrupt_ {};
    struct sigaction oldTerminate_ {};
};

std::string line() {
    std::string text;
    if (!std::getline(std::cin, text)) {
        throw AccountError("no password given (standard input ended)");
    }
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    return text;
}

std::string quietLine(const std::string& prompt) {
    std::cerr << prompt << std::flush;
    const EchoOff echoOff;
    return line();
}

}  // namespace

std::string PasswordPrompt::read(const std::string& prompt, bool confirm) {
    if (isatty(STDIN_FILENO) == 0) {
        return line();
    }
    std::string password = quietLine(prompt);
    if (confirm && quietLine("Again: ") != password) {
        throw AccountError("the two passwords differ; nothing changed");
    }
    return password;
}

}  // namespace panelhost
