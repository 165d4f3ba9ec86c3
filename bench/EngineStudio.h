#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "ChangeFeed.h"
#include "DeviceCatalog.h"
#include "EventLog.h"
#include "HostEngine.h"
#include "NameStore.h"
#include "ScratchFolder.h"

// The panel host's engine in this process, without HTTP and without its
// thread: `panels` instances of the panel, made through the export compiled
// into the benchmark, against the default studio devices, with the data
// file in a fresh folder made in `parent`, removed again with the object.
// Every log entry also goes to the event stream's feed, as in panelhost,
// so a change costs what it costs there, short of the network.
class EngineStudio {
  public:
    EngineStudio(int panels, const std::filesystem::path& parent);

    EngineStudio(const EngineStudio&) = delete;
    EngineStudio& operator=(const EngineStudio&) = delete;

    // Changes a name as an API client does; true when the host took it.
    // Returns once every instance has had its notification.
    bool writeName(int device, int database, int index, const std::string& text);

  private:
    ScratchFolder data_;
    panelhost::DeviceCatalog catalog_;
    std::unique_ptr<panelhost::NameStore> store_;
    panelhost::EventLog log_;
    panelhost::ChangeFeed feed_;
    std::unique_ptr<panelhost::HostEngine> engine_;
};
