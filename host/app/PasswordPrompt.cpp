#include "PasswordPrompt.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <system_error>

#include "AccountStore.h"

namespace panelhost {
namespace {

// The terminal's settings while echo is off, for the interrupt handler.
termios savedTerminal{};

// Dying of the signal either way, with nothing it may safely report: a
// terminal that refuses its settings back is left as it is.
extern "C" void restoreAndDie(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// "CALL: reason" for the errno a failed call left.
std::string failed(const char* call) {
    return std::string(call) + ": " + std::system_category().message(errno);
}

// Echo off on standard input for its lifetime, restored on the way out and
// on SIGINT or SIGTERM. Throws AccountError, before anything is typed, when
// echo cannot be turned off: a password is never read where it would show.
class EchoOff {
  public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
            throw AccountError("cannot turn the terminal's echo off (" + failed("tcgetattr") +
                               "); nothing changed");
        }
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        struct sigaction restore {};
        restore.sa_handler = restoreAndDie;
        sigaction(SIGINT, &restore, &oldInterrupt_);
        sigaction(SIGTERM, &restore, &oldTerminate_);
        if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
            const std::string why = failed("tcsetattr");
            restoreSignals();
            throw AccountError("cannot turn the terminal's echo off (" + why +
                               "); nothing changed");
        }
    }
    ~EchoOff() {
        if (tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal) != 0) {
            std::cerr << "\nthe terminal's echo cannot be turned back on (" << failed("tcsetattr")
                      << "); 'stty echo' does it";
        }
        restoreSignals();
        std::cerr << std::endl;  // the Enter the user typed was not echoed
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    // Back to the handlers from before; the ones from before were valid.
    void restoreSignals() const {
        sigaction(SIGINT, &oldInterrupt_, nullptr);
        sigaction(SIGTERM, &oldTerminate_, nullptr);
    }

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
