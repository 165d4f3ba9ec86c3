// panelhost: runs a panel plugin against simulated studio devices with
// persistent name databases, and serves its panels over HTTP.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "AccountCommands.h"
#include "ConfigFile.h"
#include "FileLock.h"
#include "HostApplication.h"
#include "NameSeed.h"
#include "NameSetClient.h"
#include "NameSetFiles.h"
#include "OpenAccountStore.h"
#include "OpenNameStore.h"
#include "PasswordPrompt.h"
#include "ProgramOptions.h"
#include "SqliteNameStore.h"
#include "SystemdService.h"

namespace {

using panelhost::AccountCommands;
using panelhost::AccountStore;
using panelhost::ConfigFile;
using panelhost::HostApplication;
using panelhost::HostOptions;
using panelhost::NameSetClient;
using panelhost::NameSetFiles;
using panelhost::ProgramOptions;
using panelhost::StartupError;
using panelhost::SystemdService;

std::optional<NameSetFiles::Target> target(const HostOptions& options, const std::string& device,
                                           int set) {
    try {
        return NameSetFiles::Target{options.dataFile(), options.catalog(), device, set,
                                    options.store};
    } catch (const std::exception& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return std::nullopt;
    }
}

// The accounts of the data folder, or of the database of --store, for the
// account commands. They do not need the store to themselves, so they also
// work while panelhosts run on it. A data file or database schema that does
// not exist yet is made first, with the names a host's first start would
// seed.
std::unique_ptr<AccountStore> openAccounts(const HostOptions& options) {
    try {
        const std::filesystem::path file = options.dataFile();
        if (panelhost::isPostgresStore(options.store)) {
            // Opening the names makes the schema, or refuses one that is
            // not a panelhost's.
            const std::unique_ptr<panelhost::NameStore> names = panelhost::openNameStore(
                options.store, file, panelhost::NameSeed::forCatalog(options.catalog()));
        } else {
            std::error_code ignored;
            if (!std::filesystem::exists(file, ignored) ||
                std::filesystem::file_size(file, ignored) == 0) {
                const panelhost::SqliteNameStore created(
                    file, panelhost::NameSeed::forCatalog(options.catalog()));
            }
        }
        return panelhost::openAccountStore(options.store, file, options.sessionIdle);
    } catch (const std::exception& error) {
        std::cerr << "panelhost: " << error.what() << std::endl;
        return nullptr;
    }
}

// The address of the panelhost that holds the data file, read from the file
// it keeps beside it; nothing when none holds it (the lock is free), so the
// commands may open the file themselves.
std::optional<std::string> runningHost(const HostOptions& options) {
    try {
        const panelhost::FileLock probe(options.dataFile().string() + "-lock");
        return std::nullopt;
    } catch (const std::system_error& error) {
        if (error.code() != std::errc::resource_unavailable_try_again) {
            return std::nullopt;
        }
    }
    std::string url;
    std::ifstream(NameSetClient::addressFile(options.dataFolder())) >> url;
    return url;
}

AccountCommands::PasswordSource passwordFor(const std::string& name, bool confirm) {
    return [name, confirm] {
        return panelhost::PasswordPrompt::read("Password for " + name + ": ", confirm);
    };
}

// What a message that ends the program starts with: in the journal, the
// priority of an error, so that it is not filed as mere information.
std::string fatalPrefix(const std::string& logFormat) {
    return ProgramOptions::journalWanted(logFormat) ? "<3>" : "";
}

// Re-reads the configuration file on SIGHUP: what can change while the
// host runs (the console's verbosity) changes; every other difference is
// logged as waiting for a restart.
void reload(HostApplication& host, const ProgramOptions& running, int argc, char** argv) {
    SystemdService::reloading();
    ProgramOptions fresh;
    std::ostringstream said;
    // The arguments parsed once already; only the file can fail now.
    const std::optional<int> failed = fresh.parse(argc, argv, said);
    if (failed) {
        std::string why = said.str();
        while (!why.empty() && why.back() == '\n') {
            why.pop_back();
        }
        const std::string program = "panelhost: ";
        if (why.rfind(program, 0) == 0) {
            why.erase(0, program.size());
        }
        host.log().add(0, "error", "reload: the configuration is not used: " + why);
        SystemdService::ready("serving; the last reload failed");
        return;
    }
    host.setVerbose(fresh.options.verbose);
    const auto before = ConfigFile::values(running.app);
    const auto after = ConfigFile::values(fresh.app);
    std::string waiting;
    for (const auto& [key, value] : after) {
        const auto old = before.find(key);
        if (key != "verbose" && (old == before.end() || old->second != value)) {
            waiting += (waiting.empty() ? "" : ", ") + key;
        }
    }
    for (const auto& [key, value] : before) {
        if (key != "verbose" && after.count(key) == 0) {
            waiting += (waiting.empty() ? "" : ", ") + key;
        }
    }
    host.log().add(0, "info",
                   std::string("reloaded the configuration; verbose is ") +
                       (fresh.options.verbose ? "on" : "off"));
    if (!waiting.empty()) {
        host.log().add(0, "warning", "changed settings take effect on a restart: " + waiting);
    }
    SystemdService::ready("serving");
}

// Runs the host until SIGINT or SIGTERM; SIGHUP reloads.
int serve(const ProgramOptions& line, int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    // Blocked before any thread starts, so every thread inherits the block
    // and the signals wait for sigwait() below.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        HostApplication host(line.options);
        std::cout << "panelhost: serving on " << host.url() << std::endl;
        if (host.loginLink()) {
            // On the console only, never in the log that the API serves.
            std::cout << "panelhost: no account has a password yet; log in as admin once with\n"
                      << "    " << *host.loginLink() << "\n"
                      << "then give admin a password (the page asks for one; or panelhost "
                         "user passwd admin) or add accounts. The link works once and for "
                      << std::chrono::duration_cast<std::chrono::minutes>(
                             AccountStore::kOnceLoginLifetime)
                             .count()
                      << (panelhost::isPostgresStore(line.options.store)
                              ? " minutes; other hosts on the database, and restarts, print none."
                              : " minutes; a restart prints a new one and voids this one.")
                      << std::endl;
        }
        SystemdService::ready("serving on " + host.url());
        int received = 0;
        while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
            reload(host, line, argc, argv);
        }
        SystemdService::stopping();
        host.log().add(0, "info", std::string("stopping on ") + strsignal(received));
        host.shutdown();
    } catch (const StartupError& error) {
        std::cerr << fatalPrefix(line.logFormat) << "panelhost: " << error.what() << std::endl;
        return error.exitCode();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ProgramOptions line;
    std::ostringstream refusal;
    if (const std::optional<int> done = line.parse(argc, argv, refusal)) {
        std::cerr << fatalPrefix(line.logFormat) << refusal.str() << std::flush;
        return *done;
    }
    HostOptions& options = line.options;
    if (line.printConfig) {
        ConfigFile::print(line.app, std::cout);
        return 0;
    }

    if (line.user->parsed() || line.token->parsed()) {
        const std::unique_ptr<AccountStore> accounts = openAccounts(options);
        if (!accounts) {
            return StartupError::kDataFile;
        }
        const std::string& name = line.name;
        const std::string& role = line.role;
        if (line.userAdd->parsed()) {
            return AccountCommands::addUser(*accounts, name, role, passwordFor(name, true),
                                            std::cout, std::cerr);
        }
        if (line.userRemove->parsed()) {
            return AccountCommands::removeUser(*accounts, name, std::cout, std::cerr);
        }
        if (line.userPasswd->parsed()) {
            return AccountCommands::setPassword(*accounts, name, passwordFor(name, true), std::cout,
                                                std::cerr);
        }
        if (line.userRole->parsed()) {
            return AccountCommands::setRole(*accounts, name, role, std::cout, std::cerr);
        }
        if (line.userList->parsed()) {
            return AccountCommands::listUsers(*accounts, std::cout, std::cerr);
        }
        if (line.tokenCreate->parsed()) {
            return AccountCommands::createToken(*accounts, role, name, std::cout, std::cerr);
        }
        if (line.tokenRevoke->parsed()) {
            return AccountCommands::revokeToken(*accounts, name, std::cout, std::cerr);
        }
        return AccountCommands::listTokens(*accounts, std::cout, std::cerr);
    }

    if (line.exportSet->parsed() || line.importSet->parsed()) {
        const auto where = target(options, line.device, line.set);
        if (!where) {
            return StartupError::kConfiguration;
        }
        // While a panelhost holds the data file, the commands go through
        // its API; otherwise they open the file as before.
        if (const std::optional<std::string> url = runningHost(options)) {
            if (url->empty()) {
                std::cerr << "panelhost: a panelhost uses " << options.dataFile().string()
                          << " but has not said where it serves ("
                          << NameSetClient::addressFile(options.dataFolder()).string()
                          << " is missing)" << std::endl;
                return StartupError::kDataFile;
            }
            const NameSetClient client(*url, line.apiToken);
            return line.exportSet->parsed()
                       ? client.exportSet(line.device, line.set, line.file, std::cout, std::cerr)
                       : client.importSet(line.device, line.set, line.file, std::cout, std::cerr);
        }
        return line.exportSet->parsed()
                   ? NameSetFiles::exportSet(*where, line.file, std::cout, std::cerr)
                   : NameSetFiles::importSet(*where, line.file, std::cout, std::cerr);
    }
    return serve(line, argc, argv);
}
