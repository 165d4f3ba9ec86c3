#include <gtest/gtest.h>

#include "NameSeed.h"
#include "PluginLibrary.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"

using namespace panelhost;

TEST(PluginLibrary, LoadsAPluginAndMakesScriptsWithIt) {
    TempFolder folder;
    const DeviceCatalog catalog = DeviceCatalog::defaults();
    SqliteNameStore store(folder.path() / "names.db", NameSeed::forCatalog(catalog));
    EventLog log(1000);
    ChangeFeed feed;
    PluginLibrary plugin(PANELHOST_FIXTURE_PLUGIN);
    {
        HostEngine engine(catalog, store, log, feed, [] { return TimerTable::TimePoint{}; });
        const int id = engine.createInstance(plugin.factory(), folder.path().string());
        EXPECT_EQ(id, 1);
        engine.destroyInstance(id);
    }
    std::vector<std::string> seen;
    for (const LogEntry& entry : log.since(0, 100)) {
        if (entry.kind == "command" || entry.kind == "notify") {
            seen.push_back(entry.text);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"IR 57 211 212", "IP 57 211 212",
                                              "revertive: device 57 slot 211 '2'",
                                              "revertive: device 57 slot 212 '1'", "AS"}));
}

TEST(PluginLibrary, AFileThatIsNoPluginIsAClearError) {
    try {
        PluginLibrary plugin(PANELHOST_NO_EXPORT_PLUGIN);
        FAIL() << "loaded a library without the export";
    } catch (const PluginError& error) {
        EXPECT_NE(std::string(error.what()).find("does not export load_tovi_client_script"),
                  std::string::npos);
    }
    TempFolder folder;
    const auto text = folder.write("notes.so", "not a library");
    EXPECT_THROW(PluginLibrary plugin(text), PluginError);
    EXPECT_THROW(PluginLibrary plugin(folder.path() / "missing.so"), PluginError);
}
