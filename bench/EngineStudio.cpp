#include "EngineStudio.h"

#include <chrono>

#include "NameSeed.h"
#include "PanelExport.h"
#include "SqliteNameStore.h"

namespace {
// Entries the log keeps, as panelhost keeps them by default.
constexpr std::size_t kLogCapacity = 20000;
constexpr char kDataFile[] = "panelhost.db";
}  // namespace

EngineStudio::EngineStudio(int panels, const std::filesystem::path& parent)
    : data_(parent), catalog_(panelhost::DeviceCatalog::defaults()), log_(kLogCapacity) {
    log_.addListener([this](const panelhost::LogEntry& entry) {
        feed_.publish(entry);
    });
    store_ = std::make_unique<panelhost::SqliteNameStore>(
        data_.path() / kDataFile, panelhost::NameSeed::forCatalog(catalog_));
    engine_ = std::make_unique<panelhost::HostEngine>(
        catalog_, *store_, log_, feed_, [] { return std::chrono::steady_clock::now(); });
    for (int i = 0; i < panels; ++i) {
        engine_->createInstance(&load_tovi_client_script, NAMESET_BENCH_LAYOUTS);
    }
}

bool EngineStudio::writeName(int device, int database, int index, const std::string& text) {
    return engine_->writeName("api bench", device, database, index, text).ok();
}
