#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "HostEngine.h"
#include "HostResult.h"
#include "NameSetDiff.h"
#include "NameStore.h"

namespace panelhost {

// One name set: a database of a device, one name per source.
struct NameSetAddress {
    int device = 0;
    int database = 0;

    bool sameAs(const NameSetAddress& other) const {
        return device == other.device && database == other.database;
    }
    // "device 12 database 3", as errors and batches name a set.
    std::string text() const;
};

// The rules of bulk work on name sets: importing a CSV file, copying one
// set onto another (with its title or without), restoring a name from the
// history, reading and undoing a batch, comparing two sets and finding a
// text in every set. Each write goes the way of a single name write
// (HostEngine::writeName, writeBatch): checked, stored in one transaction,
// recorded in the history under `who`, notified to the panels and the
// displays. A request that fails says why in its HostResult and writes
// nothing; a store that cannot be read is a failure, never an exception.
//
// A view over the engine, cheap to make: single-threaded like the engine
// (in a running host, the engine thread); the engine must outlive it.
class NameSets {
  public:
    // Most hits one search returns; a text found more often is too short
    // to be useful.
    static constexpr std::size_t kMostHits = 500;

    explicit NameSets(HostEngine& engine) : engine_(engine) {}

    // The names of `set`, source i + 1 at position i; nothing when the
    // device has no such database.
    std::optional<std::vector<std::string>> names(NameSetAddress set) const;

    // A set's title, its entry in its device's title database, before and
    // after a copy.
    struct TitleChange {
        std::string oldText;
        std::string newText;
    };

    // What an import or a copy would do or did. `lines` is the preview,
    // also when its wrong lines refused the write (an Invalid result); it
    // is empty when the request failed for any other reason. `batch` is
    // the batch written: nothing for a preview or when nothing changed.
    struct Change {
        HostResult result;
        std::vector<NameSetDiff::Line> lines;
        std::optional<TitleChange> title;
        std::optional<NameBatch> batch;
    };

    // The CSV text `csv` (NameSetCsv) into `set`; `file` names it in the
    // batch. Written only when `apply` and no line is wrong.
    Change importCsv(NameSetAddress set, const std::string& csv, const std::string& file,
                     const std::string& who, bool apply);
    // Every name of `from` onto `onto` and, with `withTitle`, its title
    // too. Written only when `apply` and no name is wrong; a set is never
    // copied onto itself.
    Change copy(NameSetAddress from, NameSetAddress onto, bool withTitle, const std::string& who,
                bool apply);

    struct RestoredName {
        HostResult result;
        int device = 0;
        int database = 0;
        int index = 0;
        std::string text;
    };
    // Puts back the old text of history entry `entry`, recorded as
    // restoring it.
    RestoredName restore(long long entry, const std::string& who);

    struct BatchRead {
        HostResult result;
        NameBatch batch;
        std::vector<HistoryEntry> entries;
    };
    BatchRead batch(long long id) const;

    // A name of a batch an undo left alone, and why.
    struct Skipped {
        HistoryEntry entry;
        std::string reason;
        // The name's text now, when someone changed it since.
        std::optional<std::string> now;
    };
    struct Undone {
        HostResult result;
        // One undo batch per device the undone batch touched.
        std::vector<NameBatch> batches;
        int restored = 0;
        std::vector<Skipped> skipped;
    };
    // Puts back the old text of each name of batch `id` whose newest
    // history entry is still the batch's own, so that nobody's later change
    // is overwritten; the others are skipped.
    Undone undo(long long id, const std::string& who);

    struct Row {
        int index = 0;
        std::string left;
        std::string right;
    };
    struct Comparison {
        HostResult result;
        std::vector<Row> rows;
        int differences = 0;
    };
    // The two sets side by side, one row per source.
    Comparison compare(NameSetAddress left, NameSetAddress right) const;

    struct Hit {
        int device = 0;
        std::string deviceName;
        int database = 0;
        int index = 0;
        // Whether the entry is a set's title.
        bool title = false;
        std::string text;
    };
    struct Found {
        std::vector<Hit> hits;
        // More than kMostHits names hold the text.
        bool more = false;
    };
    // Every name that holds `text`, ignoring the case of ASCII letters; an
    // empty text finds nothing.
    Found find(const std::string& text) const;

  private:
    // The preview's writes into `database`, as a batch's changes.
    static std::vector<NameChange> changesOf(const std::vector<NameSetDiff::Line>& lines,
                                             int database);
    // Writes `changes` of `device` as `batch` into `change`.
    void write(Change& change, NameBatch batch, int device, const std::vector<NameChange>& changes);

    HostEngine& engine_;
};

}  // namespace panelhost
