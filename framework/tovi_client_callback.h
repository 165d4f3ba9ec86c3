#pragma once

// The one interface that the panel host and a panel script both implement.
// The slot order (destructor, then deliver) is part of the binary interface.
class tovi_client_callback {
public:
    virtual ~tovi_client_callback() = default;

    // Script to host: type 0 carries a NUL-terminated command line, type 5
    // hands back a text the host returned earlier. Host to script: the
    // notification types 1 to 7. The meaning of the result depends on type.
    virtual void* deliver(void* data, int type) = 0;

protected:
    tovi_client_callback() = default;
    tovi_client_callback(const tovi_client_callback&) = default;
    tovi_client_callback& operator=(const tovi_client_callback&) = default;
};

// Notification and command types carried by deliver().
namespace tovi_type {
constexpr int kCommand = 0;
constexpr int kRevertive = 1;
constexpr int kControlEvent = 2;
constexpr int kHostMessage = 3;
constexpr int kTimer = 4;
constexpr int kRelease = 5;
constexpr int kDatabaseChange = 6;
constexpr int kType7 = 7;
}  // namespace tovi_type
