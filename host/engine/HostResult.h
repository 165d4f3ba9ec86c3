#pragma once

#include <string>
#include <utility>

namespace panelhost {

// The outcome of a request to the host: done, or why not. The statuses map
// onto HTTP answers (404, 409, 400, 500).
struct HostResult {
    enum class Status { Ok, NotFound, Conflict, Invalid, Failed };

    Status status = Status::Ok;
    std::string error;

    bool ok() const { return status == Status::Ok; }

    static HostResult success() { return {}; }
    static HostResult notFound(std::string why) { return {Status::NotFound, std::move(why)}; }
    static HostResult conflict(std::string why) { return {Status::Conflict, std::move(why)}; }
    static HostResult invalid(std::string why) { return {Status::Invalid, std::move(why)}; }
    static HostResult failed(std::string why) { return {Status::Failed, std::move(why)}; }
};

}  // namespace panelhost
