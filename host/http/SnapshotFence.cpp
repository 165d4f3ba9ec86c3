#include "SnapshotFence.h"

namespace panelhost {

void SnapshotFence::reached(long long id) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (id <= through_) {
            return;
        }
        through_ = id;
    }
    moved_.notify_all();
}

bool SnapshotFence::waitFor(long long id) {
    std::unique_lock<std::mutex> lock(mutex_);
    return moved_.wait_for(lock, kPatience, [&] { return through_ >= id; });
}

}  // namespace panelhost
