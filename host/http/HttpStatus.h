#pragma once

#include "HostResult.h"

namespace panelhost {

// The HTTP statuses the host answers with, each named once, and the one
// mapping from an engine's HostResult to its status. Constants and a pure
// function: any thread.

// The request was carried out.
inline constexpr int kOk = 200;
// A login or logout went through; the browser is sent on to a page.
inline constexpr int kSeeOther = 303;
// A static file the client already holds (its If-None-Match names it).
inline constexpr int kNotModified = 304;
// The request itself is wrong (a malformed body, a bad number, a name
// that breaks a rule); nothing was done.
inline constexpr int kBadRequest = 400;
// No login, or a login or token that is not (or no longer) valid.
inline constexpr int kUnauthorized = 401;
// Logged in, but the role is too low; or a request from another site.
inline constexpr int kForbidden = 403;
// No such route, panel, device, entry, batch or history entry.
inline constexpr int kNotFound = 404;
// The thing exists but is not in a state to take the request (a panel not
// shown, a control that is hidden or disabled).
inline constexpr int kConflict = 409;
// A body sent in chunks, whose length is not known before it is read.
inline constexpr int kLengthRequired = 411;
// A body longer than the longest one taken.
inline constexpr int kPayloadTooLarge = 413;
// A Host header that names neither this host nor its port.
inline constexpr int kMisdirected = 421;
// Too many failed logins from one client or for one name.
inline constexpr int kTooManyRequests = 429;
// A request head longer than the server reads.
inline constexpr int kHeadTooLarge = 431;
// The request failed inside the host (a store that could not write).
inline constexpr int kServerError = 500;
// Not now: the host is starting, the store's server is away, or too many
// event streams are open.
inline constexpr int kUnavailable = 503;

// The status that answers `result`.
inline int httpStatusOf(const HostResult& result) {
    switch (result.status) {
        case HostResult::Status::Ok:
            return kOk;
        case HostResult::Status::NotFound:
            return kNotFound;
        case HostResult::Status::Conflict:
            return kConflict;
        case HostResult::Status::Invalid:
            return kBadRequest;
        case HostResult::Status::Failed:
            return kServerError;
        case HostResult::Status::Unavailable:
            return kUnavailable;
    }
    return kServerError;
}

}  // namespace panelhost
