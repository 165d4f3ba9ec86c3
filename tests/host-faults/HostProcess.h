#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One panelhost program, started as a child process on a loopback port the
// system picks, with the real panel plugin, layouts and web folder (unless
// overridden) and its console output in a file. The destructor always ends
// it: SIGKILL when it still runs, then it is reaped. The child is also
// killed when the test process dies.
class HostProcess {
  public:
    // How long a start or a clean stop may take, sanitizers included.
    static constexpr std::chrono::seconds kStartTimeout{60};
    static constexpr std::chrono::seconds kStopTimeout{60};

    struct Setup {
        explicit Setup(std::filesystem::path dataFolder) : data(std::move(dataFolder)) {}

        std::filesystem::path data;
        // The address to serve on; a loopback one, as every test server.
        std::string bind = "127.0.0.1";
        // Empty: the web folder of the source tree.
        std::filesystem::path web;
        // Largest file the host may write (RLIMIT_FSIZE, SIGXFSZ ignored),
        // so that a write beyond it fails like a full disk.
        std::optional<std::uint64_t> fileSizeLimit;
        // Drops root's power to write where permissions forbid it, so that
        // a read-only folder is read-only for the host even when the tests
        // run as root.
        bool obeyPermissions = false;
        // Standard error goes to a small pipe that nobody reads (a console
        // left unread) instead of the output file.
        bool unreadStandardError = false;
        // Given after the usual ones.
        std::vector<std::string> arguments;
    };

    // Starts the program; `output` receives its standard output and error.
    HostProcess(const Setup& setup, const std::filesystem::path& output);
    ~HostProcess();

    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Waits until the host says where it serves, over HTTP or HTTPS (true),
    // or has exited (false, see exitCode()); gives up after kStartTimeout.
    bool waitUntilServing();
    int port() const { return port_; }
    // An admin API token of the host, made with `panelhost token create`
    // on its data folder the first time it is asked for; empty when that
    // fails. Any thread.
    std::string token();

    // Runs `panelhost ARGUMENTS --data DATA` with `input` as its standard
    // input (a line for a password prompt), as an administrator would on
    // the host's data folder; its exit code, -1 when it could not run.
    static int command(const std::filesystem::path& data, const std::string& arguments,
                       const std::string& input = "");
    // Waits until the console output holds `text` (true) or the host has
    // exited (false); gives up after kStartTimeout.
    bool waitForOutput(const std::string& text);

    // SIGKILL, then reaps the process.
    void kill();
    // SIGTERM, then waits for the exit (SIGKILL after kStopTimeout);
    // returns exitCode().
    int stop();
    // The exit status once the process has ended by itself; -1 after a
    // signal or while it runs.
    int exitCode();

    std::string output() const;
    // With unreadStandardError: how many bytes wait in the pipe, and how
    // many it holds at most.
    int unreadBytes() const;
    int pipeCapacity() const;

  private:
    bool reap(bool wait);

    std::filesystem::path output_;
    std::filesystem::path data_;
    std::mutex tokenMutex_;
    std::string token_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
    int port_ = 0;
    // The read end of the unread standard error, kept open so that writes
    // to it block instead of failing.
    int unread_ = -1;
};
