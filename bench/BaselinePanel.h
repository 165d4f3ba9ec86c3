#pragma once

#include <cstdarg>
#include <string>

#include "NamesetEditor.h"
#include "tovi_client_callback.h"

// The panel's start-up and shut-down done the plain way, as the yardstick
// of its speed: every line formatted with snprintf, every answer copied
// into a std::string. It sends the host the same lines in the same order
// as NamesetEditor and keeps the same tables, and does nothing else.
//
// `host` (not owned) must outlive the object; `path` may be null.
class BaselinePanel {
  public:
    BaselinePanel(tovi_client_callback* host, const char* path);
    ~BaselinePanel();

    BaselinePanel(const BaselinePanel&) = delete;
    BaselinePanel& operator=(const BaselinePanel&) = delete;

  private:
    // Formats and sends one line; returns the host's result.
    void* send(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Sends a reading line and copies the answer into `out`; a null answer
    // leaves `out` as it was.
    void read(std::string& out, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int findDevice(const char* instanceName);
    void* sendFormatted(const char* format, std::va_list args);

    tovi_client_callback* host_;
    std::string path_;
    int router_ = 0;
    int tally_ = 0;
    int namesDriver_ = 0;
    std::string names_[NamesetEditor::kNamesetCount][NamesetEditor::kTableEntries];
    std::string titles_[NamesetEditor::kNamesetCount];
};
