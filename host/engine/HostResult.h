#pragma once

#include <string>
#include <utility>

#include "StoreError.h"

namespace panelhost {

// The outcome of a request to the host: done, or why not. The statuses map
// onto HTTP answers (404, 409, 400, 500, 503).
struct HostResult {
    // Unavailable: the store's server is away, nothing was written.
    enum class Status { Ok, NotFound, Conflict, Invalid, Failed, Unavailable };

    Status status = Status::Ok;
    std::string error;

    bool ok() const { return status == Status::Ok; }

    static HostResult success() { return {}; }
    static HostResult notFound(std::string why) { return {Status::NotFound, std::move(why)}; }
    static HostResult conflict(std::string why) { return {Status::Conflict, std::move(why)}; }
    static HostResult invalid(std::string why) { return {Status::Invalid, std::move(why)}; }
    static HostResult failed(std::string why) { return {Status::Failed, std::move(why)}; }
    static HostResult unavailable(std::string why) { return {Status::Unavailable, std::move(why)}; }
    // The answer to a write the store did not commit.
    static HostResult notStored(const StoreError& error);
};

inline HostResult HostResult::notStored(const StoreError& error) {
    if (dynamic_cast<const StoreUnavailable*>(&error) != nullptr) {
        return unavailable(error.what());
    }
    return failed(error.what());
}

}  // namespace panelhost
