#include "HostProcess.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

// Exit status of a child that could not become panelhost.
constexpr int kExecFailed = 127;
constexpr auto kPoll = std::chrono::milliseconds(20);
// The console line that names the served URL, http://ADDRESS:PORT/ or
// https://ADDRESS:PORT/.
constexpr const char* kServing = "panelhost: serving on http";
// A pipe of two pages, so that little output fills it: the system signals
// room in a pipe by whole free pages, and with one page a writer waiting
// for room would stop at its first line.
constexpr int kUnreadPipeSize = 8192;

// Root's powers over files whatever their permissions.
constexpr int kPermissionOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

}  // namespace

HostProcess::HostProcess(const Setup& setup, const std::filesystem::path& output)
    : output_(output), data_(setup.data) {
    std::vector<std::string> arguments = {PANELHOST_PROGRAM,
                                          "--plugin",
                                          PANELHOST_PLUGIN,
                                          "--layouts",
                                          PANELHOST_LAYOUTS,
                                          "--web",
                                          setup.web.empty() ? PANELHOST_WEB : setup.web.string(),
                                          "--data",
                                          setup.data.string(),
                                          "--bind",
                                          setup.bind,
                                          "--port",
                                          "0"};
    arguments.insert(arguments.end(), setup.arguments.begin(), setup.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot write " + output.string());
    }
    rlimit fileSize{};
    if (setup.fileSizeLimit) {
        fileSize.rlim_cur = *setup.fileSizeLimit;
        fileSize.rlim_max = *setup.fileSizeLimit;
    }
    int unreadEnds[2] = {-1, -1};
    if (setup.unreadStandardError) {
        if (pipe2(unreadEnds, O_CLOEXEC) != 0) {
            close(fd);
            throw std::runtime_error("cannot make a pipe for standard error");
        }
        fcntl(unreadEnds[1], F_SETPIPE_SZ, kUnreadPipeSize);
        unread_ = unreadEnds[0];
    }
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(kExecFailed);
        }
        dup2(fd, STDOUT_FILENO);
        dup2(setup.unreadStandardError ? unreadEnds[1] : fd, STDERR_FILENO);
        if (setup.fileSizeLimit) {
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &fileSize);
        }
        if (setup.obeyPermissions) {
            // Fails harmlessly without root: permissions then apply anyway.
            for (const int capability : kPermissionOverrides) {
                prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
            }
        }
        execv(argv[0], argv.data());
        _exit(kExecFailed);
    }
    close(fd);
    if (unreadEnds[1] >= 0) {
        close(unreadEnds[1]);
    }
    if (pid_ < 0) {
        throw std::runtime_error("cannot start " + std::string(PANELHOST_PROGRAM));
    }
}

HostProcess::~HostProcess() {
    kill();
    if (unread_ >= 0) {
        close(unread_);
    }
}

bool HostProcess::waitUntilServing() {
    if (!waitForOutput(kServing)) {
        return false;
    }
    const std::string text = output();
    const std::size_t at = text.find("://", text.find(kServing)) + 3;
    // The port follows the last ':' of the address, which may be an IPv6
    // one in brackets.
    const std::size_t colon = text.rfind(':', text.find('/', at));
    port_ = std::atoi(text.c_str() + colon + 1);
    return port_ > 0;
}

bool HostProcess::waitForOutput(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (output().find(text) != std::string::npos) {
            return true;
        }
        if (reap(false)) {
            return output().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return false;
}

int HostProcess::command(const std::filesystem::path& data, const std::string& arguments,
                         const std::string& input) {
    const std::string line = "printf '%s\\n' '" + input + "' | " + PANELHOST_PROGRAM + " " +
                             arguments + " --data '" + data.string() + "' >/dev/null 2>&1";
    const int status = std::system(line.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HostProcess::token() {
    const std::lock_guard<std::mutex> lock(tokenMutex_);
    if (token_.empty()) {
        const std::string command = std::string(PANELHOST_PROGRAM) +
                                    " token create --role admin --data '" + data_.string() +
                                    "' 2>/dev/null";
        FILE* made = popen(command.c_str(), "r");
        if (made != nullptr) {
            std::array<char, 256> line{};
            if (fgets(line.data(), line.size(), made) != nullptr) {
                token_ = line.data();
                token_.erase(token_.find_last_not_of("\n") + 1);
            }
            pclose(made);
        }
    }
    return token_;
}

void HostProcess::kill() {
    if (!reap(false)) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
}

int HostProcess::stop() {
    if (!reap(false)) {
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
        while (!reap(false) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kPoll);
        }
        kill();
    }
    return exitCode();
}

int HostProcess::exitCode() {
    return reap(false) && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string HostProcess::output() const {
    std::ostringstream text;
    text << std::ifstream(output_, std::ios::binary).rdbuf();
    return text.str();
}

int HostProcess::unreadBytes() const {
    int bytes = 0;
    return ioctl(unread_, FIONREAD, &bytes) == 0 ? bytes : -1;
}

int HostProcess::pipeCapacity() const {
    return fcntl(unread_, F_GETPIPE_SZ);
}

bool HostProcess::reap(bool wait) {
    if (!ended_ && waitpid(pid_, &status_, wait ? 0 : WNOHANG) == pid_) {
        ended_ = true;
    }
    return ended_;
}
