#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace panelhost {

// The export-set and import-set commands while a panelhost runs on the data
// folder: they go through its HTTP API (so the import is checked, stored,
// recorded and notified as the host does every bulk write) instead of
// opening the data file the host holds. The host's address comes from the
// file it keeps in the data folder while it serves (addressFile()). Used
// by one thread; each call makes its own connections.
class NameSetClient {
  public:
    // The file in `dataFolder` that holds the address of the panelhost
    // serving on it, one line "http://HOST:PORT/", while it serves.
    static std::filesystem::path addressFile(const std::filesystem::path& dataFolder);

    // `url` is "http://HOST:PORT/"; `token` (may be empty) is sent as a
    // bearer token.
    NameSetClient(std::string url, std::string token);

    // As NameSetFiles::exportSet and importSet: the same output, problems
    // and exit codes.
    int exportSet(const std::string& device, int set, const std::filesystem::path& output,
                  std::ostream& out, std::ostream& err) const;
    int importSet(const std::string& device, int set, const std::filesystem::path& input,
                  std::ostream& out, std::ostream& err) const;

  private:
    struct Answer {
        int status = 0;
        std::string body;
    };

    // Throws std::runtime_error when the host cannot be reached.
    Answer request(const std::string& method, const std::string& target,
                   const std::string& body) const;
    // The device's number at the host; nothing (reported on `err`) when
    // the host has no device of that name or cannot be asked.
    std::optional<int> deviceNumber(const std::string& device, std::ostream& err) const;

    std::string host_;
    std::string port_;
    std::string token_;
};

}  // namespace panelhost
