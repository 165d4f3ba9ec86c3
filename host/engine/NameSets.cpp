#include "NameSets.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <utility>

#include "NameSetCsv.h"

namespace panelhost {
namespace {

// Lower-case ASCII, for a search that ignores case where it can.
std::string folded(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HostResult noSet(NameSetAddress set) {
    return HostResult::notFound("there is no " + set.text());
}

// The request failed before or after its preview: nothing of it is shown.
NameSets::Change failedChange(HostResult result) {
    NameSets::Change change;
    change.result = std::move(result);
    return change;
}

}  // namespace

std::string NameSetAddress::text() const {
    return "device " + std::to_string(device) + " database " + std::to_string(database);
}

std::optional<std::vector<std::string>> NameSets::names(NameSetAddress set) const {
    const DeviceSpec* catalogued = engine_.devices().catalog().byNumber(set.device);
    if (catalogued == nullptr || !catalogued->hasDatabase(set.database)) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (int index = 1; index <= catalogued->entries; ++index) {
        names.push_back(*engine_.devices().readName(set.device, set.database, index));
    }
    return names;
}

std::vector<NameChange> NameSets::changesOf(const std::vector<NameSetDiff::Line>& lines,
                                            int database) {
    std::vector<NameChange> changes;
    for (const NameSetDiff::Line& line : NameSetDiff::writes(lines)) {
        changes.push_back(NameChange{database, line.source, line.newText});
    }
    return changes;
}

void NameSets::write(Change& change, NameBatch batch, int device,
                     const std::vector<NameChange>& changes) {
    const HostResult written = engine_.writeBatch(batch, device, changes);
    if (!written.ok()) {
        change = failedChange(written);
        return;
    }
    change.batch = std::move(batch);
}

NameSets::Change NameSets::importCsv(NameSetAddress set, const std::string& csv,
                                     const std::string& file, const std::string& who, bool apply) {
    const std::optional<std::vector<std::string>> current = names(set);
    if (!current) {
        return failedChange(noSet(set));
    }
    std::istringstream in(csv);
    const NameSetCsv::Report report =
        NameSetCsv::read(in, static_cast<int>(current->size()), NameSetCsv::kLongestName);
    Change change;
    change.lines = NameSetDiff::importPreview(report, *current);
    if (!apply) {
        return change;
    }
    if (NameSetDiff::anyWrong(change.lines)) {
        change.result = HostResult::invalid(NameSetDiff::refusal(change.lines));
        return change;
    }
    const std::vector<NameChange> changes = changesOf(change.lines, set.database);
    if (changes.empty()) {
        return change;
    }
    const std::string& device = engine_.devices().catalog().byNumber(set.device)->name;
    write(change,
          NameBatch{0, "", who, "import",
                    file + " into database " + std::to_string(set.database) + " of " + device, 0},
          set.device, changes);
    return change;
}

NameSets::Change NameSets::copy(NameSetAddress from, NameSetAddress onto, bool withTitle,
                                const std::string& who, bool apply) {
    const auto source = names(from);
    const auto target = names(onto);
    if (!source || !target) {
        return failedChange(noSet(source ? onto : from));
    }
    if (from.sameAs(onto)) {
        return failedChange(HostResult::invalid("a set cannot be copied onto itself"));
    }
    Change change;
    change.lines = NameSetDiff::copyPreview(*source, *target);
    if (apply && NameSetDiff::anyWrong(change.lines)) {
        change.result = HostResult::invalid(NameSetDiff::refusal(change.lines));
        return change;
    }
    std::vector<NameChange> changes = changesOf(change.lines, onto.database);
    if (withTitle) {
        // A set's title is its entry in its device's title database.
        const DeviceSpec* targetSpec = engine_.devices().catalog().byNumber(onto.device);
        const DeviceSpec* sourceSpec = engine_.devices().catalog().byNumber(from.device);
        const auto readTitle = [&](const DeviceSpec* catalogued, int set) {
            return catalogued->titleDatabase == 0
                       ? std::nullopt
                       : engine_.devices().readName(catalogued->number, catalogued->titleDatabase,
                                                    set);
        };
        const std::optional<std::string> oldTitle = readTitle(targetSpec, onto.database);
        const std::optional<std::string> newTitle = readTitle(sourceSpec, from.database);
        if (!oldTitle || !newTitle) {
            return failedChange(HostResult::invalid(std::string("the ") +
                                                    (oldTitle ? "source" : "target") +
                                                    " set has no stored title to copy"));
        }
        change.title = TitleChange{*oldTitle, *newTitle};
        if (*oldTitle != *newTitle) {
            changes.push_back(NameChange{targetSpec->titleDatabase, onto.database, *newTitle});
        }
    }
    if (!apply || changes.empty()) {
        return change;
    }
    write(change,
          NameBatch{0, "", who, "copy",
                    from.text() + " onto " + onto.text() + (withTitle ? " with its title" : ""), 0},
          onto.device, changes);
    return change;
}

NameSets::RestoredName NameSets::restore(long long entry, const std::string& who) {
    RestoredName restored;
    std::optional<HistoryEntry> found;
    try {
        found = engine_.store().historyEntry(entry);
    } catch (const StoreError& error) {
        restored.result = HostResult::notStored(error);
        return restored;
    }
    if (!found) {
        restored.result =
            HostResult::notFound("there is no history entry " + std::to_string(entry));
        return restored;
    }
    const DeviceSpec* catalogued = engine_.devices().catalog().byName(found->device);
    if (catalogued == nullptr) {
        restored.result =
            HostResult::notFound("the device \"" + found->device + "\" of history entry " +
                                 std::to_string(entry) + " is no longer configured");
        return restored;
    }
    restored.result = engine_.writeName(who, catalogued->number, found->database, found->index,
                                        found->oldText, entry);
    restored.device = catalogued->number;
    restored.database = found->database;
    restored.index = found->index;
    restored.text = found->oldText;
    return restored;
}

NameSets::BatchRead NameSets::batch(long long id) const {
    BatchRead read;
    try {
        const std::optional<NameBatch> found = engine_.store().batch(id);
        if (!found) {
            read.result = HostResult::notFound("there is no batch " + std::to_string(id));
            return read;
        }
        read.batch = *found;
        read.entries = engine_.store().batchEntries(id);
    } catch (const StoreError& error) {
        read.result = HostResult::notStored(error);
        read.entries.clear();
    }
    return read;
}

NameSets::Undone NameSets::undo(long long id, const std::string& who) {
    Undone undone;
    const BatchRead read = batch(id);
    if (!read.result.ok()) {
        undone.result = read.result;
        return undone;
    }
    // Per device, the names to put back.
    std::map<int, std::vector<NameChange>> changes;
    try {
        for (const HistoryEntry& entry : read.entries) {
            const DeviceSpec* catalogued = engine_.devices().catalog().byName(entry.device);
            const long long newest =
                engine_.store().newestEntry(entry.device, entry.database, entry.index);
            if (catalogued != nullptr && newest == entry.id) {
                changes[catalogued->number].push_back(
                    NameChange{entry.database, entry.index, entry.oldText});
                continue;
            }
            Skipped skip{entry, "", std::nullopt};
            if (catalogued == nullptr) {
                skip.reason = "the device is no longer configured";
            } else if (const auto later = engine_.store().historyEntry(newest)) {
                skip.now = later->newText;
                skip.reason = "changed since by " + later->who + " at " + later->time;
            }
            undone.skipped.push_back(std::move(skip));
        }
    } catch (const StoreError& error) {
        return Undone{HostResult::notStored(error), {}, 0, {}};
    }
    for (const auto& [device, list] : changes) {
        NameBatch written{
            0,
            "",
            who,
            "undo",
            "undo of " + read.batch.kind + " " + std::to_string(id) + " (" + read.batch.what + ")",
            id};
        const HostResult result = engine_.writeBatch(written, device, list);
        if (!result.ok()) {
            return Undone{result, {}, 0, {}};
        }
        undone.restored += static_cast<int>(list.size());
        undone.batches.push_back(std::move(written));
    }
    return undone;
}

NameSets::Comparison NameSets::compare(NameSetAddress left, NameSetAddress right) const {
    Comparison comparison;
    const auto leftNames = names(left);
    const auto rightNames = names(right);
    if (!leftNames || !rightNames) {
        comparison.result = noSet(leftNames ? right : left);
        return comparison;
    }
    const std::size_t count = std::max(leftNames->size(), rightNames->size());
    for (std::size_t i = 0; i < count; ++i) {
        Row row{static_cast<int>(i) + 1, i < leftNames->size() ? (*leftNames)[i] : "",
                i < rightNames->size() ? (*rightNames)[i] : ""};
        comparison.differences += row.left != row.right ? 1 : 0;
        comparison.rows.push_back(std::move(row));
    }
    return comparison;
}

NameSets::Found NameSets::find(const std::string& text) const {
    Found found;
    const std::string wanted = folded(text);
    if (wanted.empty()) {
        return found;
    }
    for (const DeviceSpec& catalogued : engine_.devices().catalog().devices()) {
        for (const int database : catalogued.databases) {
            for (int index = 1; index <= catalogued.entries; ++index) {
                const std::string name =
                    *engine_.devices().readName(catalogued.number, database, index);
                if (folded(name).find(wanted) == std::string::npos) {
                    continue;
                }
                if (found.hits.size() == kMostHits) {
                    found.more = true;
                    break;
                }
                found.hits.push_back(Hit{
                    catalogued.number, catalogued.name, database, index,
                    catalogued.titleDatabase != 0 && database == catalogued.titleDatabase, name});
            }
        }
    }
    return found;
}

}  // namespace panelhost
