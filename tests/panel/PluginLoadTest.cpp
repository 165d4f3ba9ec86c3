// The plugin as a host loads it: one plain export, and a start-up through it.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "RecordingHost.h"

#if defined(_WIN32)
#include <windows.h>

#include <algorithm>
#else
#include <dlfcn.h>
#endif

namespace {
using Factory = tovi_client_callback* (*)(tovi_client_callback*, const char*);

#if defined(_WIN32)
using Library = HMODULE;

Library openLibrary(const char* path) {
    std::string windowsPath(path);
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    return LoadLibraryA(windowsPath.c_str());
}
void* findSymbol(Library library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
void closeLibrary(Library library) {
    FreeLibrary(library);
}
#else
using Library = void*;

Library openLibrary(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
void* findSymbol(Library library, const char* name) {
    return dlsym(library, name);
}
void closeLibrary(Library library) {
    dlclose(library);
}
#endif

class PluginLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plugin = openLibrary(NAMESET_EDITOR_PLUGIN);
        ASSERT_NE(plugin, nullptr) << "cannot load " << NAMESET_EDITOR_PLUGIN;
    }
    void TearDown() override {
        if (plugin != nullptr) {
            closeLibrary(plugin);
        }
    }

    Library plugin = nullptr;
};

TEST_F(PluginLoadTest, StartsAndStopsThroughItsExport) {
    const auto factory = reinterpret_cast<Factory>(findSymbol(plugin, "load_tovi_client_script"));
    ASSERT_NE(factory, nullptr);

    RecordingHost host;
    host.answerDevice("StC SDI Router", "3");
    host.answerDevice("CTA Tally Infodriver", "57");
    host.answerDevice("StC_UMD_Names_DriverID", "12");
    host.answerName(12, 9, 1, "Studio A");
    tovi_client_callback* panel = factory(&host, "/srv/panels");
    ASSERT_NE(panel, nullptr);
    const std::vector<std::string>& sent = host.commands();
    ASSERT_EQ(sent.size(), 1319u);
    EXPECT_EQ(sent.front(), "PI '1' '/srv/panels/Selector.tovi_ui'");
    EXPECT_EQ(sent[1302], "TP 'text=Studio A' '1' 'Names_1'");
    EXPECT_EQ(sent.back(), "RR 12 1 128");
    EXPECT_EQ(host.handBacks(), 3 + 1288);

    host.clear();
    tovi_destroy(panel);
    EXPECT_THAT(host.commands(), ::testing::ElementsAre("IU 57", "AS"));
    EXPECT_THAT(host.protocolErrors(), ::testing::IsEmpty());
}

TEST_F(PluginLoadTest, ExportsNothingButTheFactory) {
    // The panel class and the framework stay inside the plugin.
    for (const char* symbol : {"_ZN13NamesetEditorC1EP20tovi_client_callbackPKc",
                               "_ZN18tovi_script_helper7deliverEPvi", "_ZN11tovi_stringC1EPKc"}) {
        EXPECT_EQ(findSymbol(plugin, symbol), nullptr) << symbol;
    }
}

}  // namespace
