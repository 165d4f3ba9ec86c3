#pragma once

#include <filesystem>
#include <string>

// What SQLite's "PRAGMA integrity_check" says of a data file: "ok", the
// first problem it found, or why the file could not be checked. The file
// must not be held by a running host.
std::string integrityCheck(const std::filesystem::path& file);

// Copies the data file of `data` with its write-ahead log, as a crash left
// them, into `to`; returns the copied data file.
std::filesystem::path copyDataFile(const std::filesystem::path& data,
                                   const std::filesystem::path& to);
