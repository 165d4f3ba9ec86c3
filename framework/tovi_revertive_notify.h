#pragma once

#include "tovi_records.h"
#include "tovi_string.h"

// A revertive or database change as a handler sees it: a view of the host's
// record, valid only during the notification.
class tovi_revertive_notify {
public:
    explicit tovi_revertive_notify(const tovi_revertive_record* record) noexcept
        : record_(record) {}

    int device() const noexcept { return record_->device; }
    int database() const noexcept { return record_->database; }
    int index() const noexcept { return record_->index; }
    tovi_string text() const { return tovi_string(record_->text); }

private:
    const tovi_revertive_record* record_;
};
