#include "PostgresNameStore.h"

#include <map>
#include <tuple>
#include <utility>

#include "StoreChannels.h"
#include "UtcTime.h"

namespace panelhost {
namespace {

// The schema's format; a database whose schema has another is refused,
// except format 1 (before the changes table), which is brought up to date.
constexpr int kSchemaVersion = 2;
constexpr int kFormatBeforeChanges = 1;

// Marks the schema as a panelhost's, as the application id marks a file.
constexpr long long kApplicationId = 0x544F5648;

// The advisory lock every write transaction takes first, so that writes are
// committed one after the other and the changes' sequence numbers are in
// commit order: a reader that sees a change has seen every earlier one, and
// a gap means rows were pruned. Writes of names are rare (people typing,
// imports), so making them wait for each other costs nothing that shows.
constexpr long long kWriteLock = kApplicationId * 256 + 1;

// How many changes the table keeps behind the newest: a host that fell
// further behind (stopped, or away from the server for long) re-reads every
// name instead, which takes one read of the tables; ten thousand rows are
// well beyond what hosts miss in a network blip, even during imports.
constexpr long long kKeptChanges = 10000;

// Who a change found by a full re-read is shown as written by: the re-read
// cannot tell, and this host's own writes are already known to it.
constexpr const char* kReReadWriter = "another host";

constexpr const char* kChangesTable = R"sql(
CREATE TABLE panelhost.changes (seq BIGSERIAL PRIMARY KEY, kind TEXT NOT NULL,
                                device TEXT NOT NULL, db INTEGER NOT NULL, idx INTEGER NOT NULL,
                                text TEXT NOT NULL, source INTEGER NOT NULL, who TEXT NOT NULL);
)sql";

constexpr const char* kSchema = R"sql(
CREATE SCHEMA panelhost;
CREATE TABLE panelhost.format (application_id BIGINT NOT NULL, version INTEGER NOT NULL);
CREATE TABLE panelhost.names (device TEXT NOT NULL, db INTEGER NOT NULL, idx INTEGER NOT NULL,
                              text TEXT NOT NULL, PRIMARY KEY (device, db, idx));
CREATE TABLE panelhost.slots (device TEXT NOT NULL, idx INTEGER NOT NULL, text TEXT NOT NULL,
                              PRIMARY KEY (device, idx));
CREATE TABLE panelhost.batches (id BIGSERIAL PRIMARY KEY, time TEXT NOT NULL, who TEXT NOT NULL,
                                kind TEXT NOT NULL, what TEXT NOT NULL, undoes BIGINT);
CREATE TABLE panelhost.history (id BIGSERIAL PRIMARY KEY, time TEXT NOT NULL, who TEXT NOT NULL,
                                device TEXT NOT NULL, device_number INTEGER NOT NULL,
                                db INTEGER NOT NULL, idx INTEGER NOT NULL, old TEXT NOT NULL,
                                new TEXT NOT NULL, batch BIGINT, restores BIGINT);
CREATE INDEX history_entry ON panelhost.history (device, db, idx);
CREATE INDEX history_batch ON panelhost.history (batch);
CREATE TABLE panelhost.crosspoints (device TEXT NOT NULL, destination INTEGER NOT NULL,
                                    source INTEGER NOT NULL, PRIMARY KEY (device, destination));
)sql";

// Who a crosspoint change is recorded as written by: only the router
// changes crosspoints.
constexpr const char* kRouter = "router";

// The kinds of change rows.
constexpr const char* kNameKind = "name";
constexpr const char* kSlotKind = "slot";
constexpr const char* kCrosspointKind = "crosspoint";

// The columns of a history entry as entries() reads them.
constexpr const char* kEntryColumns =
    "SELECT id, time, who, device, device_number, db, idx, old, new, batch, "
    "(SELECT kind FROM panelhost.batches b WHERE b.id = h.batch), "
    "(SELECT what FROM panelhost.batches b WHERE b.id = h.batch), "
    "(SELECT count(*) FROM panelhost.history c WHERE c.batch = h.batch), restores "
    "FROM panelhost.history h ";

using Result = PostgresConnection::Result;
constexpr auto number = PostgresConnection::number;

std::string notAPanelhostSchema(const std::string& location) {
    return location + ": has a schema \"panelhost\" that is not a panelhost's; it is left as it is";
}

}  // namespace

PostgresNameStore::PostgresNameStore(const std::string& url, const SeedData& seed) : db_(url) {
    db_.limitEachCommand(kStatementTimeoutMs);
    // Under the write lock, so that hosts started together on a new
    // database create (or bring up to date) the schema once.
    db_.transaction("cannot be set up", [&] {
        lockWrites();
        const Result format = db_.run("cannot be read",
                                      "SELECT to_regnamespace('panelhost') IS NOT NULL, "
                                      "to_regclass('panelhost.format') IS NOT NULL");
        if (format.text(0, 0) != "t") {
            create(seed);
            return;
        }
        if (format.text(0, 1) != "t") {
            throw StoreError(notAPanelhostSchema(location()));
        }
        const Result found =
            db_.run("cannot be read", "SELECT application_id, version FROM panelhost.format");
        if (found.rows() != 1 || found.integer(0, 0) != kApplicationId) {
            throw StoreError(notAPanelhostSchema(location()));
        }
        if (found.number(0, 1) == kFormatBeforeChanges) {
            db_.run("cannot be brought up to date", kChangesTable);
            db_.run("cannot be brought up to date", "UPDATE panelhost.format SET version = $1",
                    {number(kSchemaVersion)});
        } else if (found.number(0, 1) != kSchemaVersion) {
            throw StoreError(location() + ": has data format " + found.text(0, 1) +
                             ", this panelhost reads format " + std::to_string(kSchemaVersion) +
                             "; it is left as it is");
        }
    });
    Snapshot snapshot = read();
    rememberAll(std::move(snapshot.names), std::move(snapshot.slots),
                std::move(snapshot.crosspoints));
    lastSeen_ = snapshot.lastSeen;
    readOnConnection_ = db_.connections();
    readAfterUnconfirmed_ = db_.unconfirmedCommits();
}

void PostgresNameStore::create(const SeedData& seed) {
    db_.run("cannot be set up", kSchema);
    db_.run("cannot be set up", kChangesTable);
    db_.run("cannot be set up", "INSERT INTO panelhost.format VALUES ($1, $2)",
            {number(kApplicationId), number(kSchemaVersion)});
    for (const SeedData::Name& entry : seed.names) {
        db_.run("cannot seed names",
                "INSERT INTO panelhost.names (device, db, idx, text) VALUES ($1, $2, $3, $4)",
                {entry.device, number(entry.database), number(entry.index), entry.text});
    }
    for (const SeedData::Slot& entry : seed.slots) {
        db_.run("cannot seed slots",
                "INSERT INTO panelhost.slots (device, idx, text) VALUES ($1, $2, $3)",
                {entry.device, number(entry.index), entry.text});
    }
}

PostgresNameStore::Snapshot PostgresNameStore::read() const {
    Snapshot snapshot;
    // The newest change first: a change committed while the tables are
    // read is then read again by the next catch-up, and found equal.
    snapshot.lastSeen =
        db_.run("cannot read the changes", "SELECT coalesce(max(seq), 0) FROM panelhost.changes")
            .integer(0, 0);
    const Result names =
        db_.run("cannot read the names", "SELECT device, db, idx, text FROM panelhost.names");
    for (int row = 0; row < names.rows(); ++row) {
        snapshot.names[NameKey{names.text(row, 0), names.number(row, 1), names.number(row, 2)}] =
            names.text(row, 3);
    }
    const Result slots =
        db_.run("cannot read the slots", "SELECT device, idx, text FROM panelhost.slots");
    for (int row = 0; row < slots.rows(); ++row) {
        snapshot.slots[SlotKey{slots.text(row, 0), slots.number(row, 1)}] = slots.text(row, 2);
    }
    const Result crosspoints =
        db_.run("cannot read the crosspoints",
                "SELECT device, destination, source FROM panelhost.crosspoints");
    for (int row = 0; row < crosspoints.rows(); ++row) {
        snapshot.crosspoints[crosspoints.text(row, 0)][crosspoints.number(row, 1)] =
            crosspoints.number(row, 2);
    }
    return snapshot;
}

void PostgresNameStore::lockWrites() {
    db_.run("cannot take the write lock", "SELECT pg_advisory_xact_lock($1::bigint)",
            {number(kWriteLock)});
}

long long PostgresNameStore::recordChange(const char* kind, const std::string& device, int database,
                                          int index, const std::string& text, int source,
                                          const std::string& who) {
    return db_
        .run(
            "cannot record a change",
            "INSERT INTO panelhost.changes (kind, device, db, idx, text, source, who) "
            "VALUES ($1, $2, $3, $4, $5, $6, $7) RETURNING seq",
            {std::string(kind), device, number(database), number(index), text, number(source), who})
        .integer(0, 0);
}

void PostgresNameStore::announce(long long seq) {
    if (seq == 0) {
        return;
    }
    db_.run("cannot announce a change", "SELECT pg_notify($1, $2)",
            {std::string(StoreChannels::kNames), number(seq)});
    db_.run("cannot prune the changes", "DELETE FROM panelhost.changes WHERE seq <= $1::bigint",
            {number(seq - kKeptChanges)});
}

std::vector<StoreChange> PostgresNameStore::catchUp() {
    // Read in one transaction, taken into memory only once it is all read.
    std::optional<Snapshot> full;
    std::vector<StoreChange> found;
    long long newest = lastSeen_;
    db_.transaction("cannot read the changes", [&] {
        if (db_.connections() != readOnConnection_ ||
            db_.unconfirmedCommits() != readAfterUnconfirmed_) {
            // Commit answers or notices may have been lost with the
            // connection, or a write answered as failed may have committed.
            full = read();
            return;
        }
        const Result rows = db_.run("cannot read the changes",
                                    "SELECT seq, kind, device, db, idx, text, source, who "
                                    "FROM panelhost.changes WHERE seq > $1::bigint ORDER BY seq",
                                    {number(lastSeen_)});
        if (rows.rows() > 0 && rows.integer(0, 0) != lastSeen_ + 1) {
            // Pruned before this host read them (or a write that took a
            // number was rolled back): only a full read tells what changed.
            full = read();
            return;
        }
        for (int row = 0; row < rows.rows(); ++row) {
            const std::string kind = rows.text(row, 1);
            StoreChange change;
            if (kind == kNameKind) {
                change.kind = StoreChange::Kind::Name;
            } else if (kind == kSlotKind) {
                change.kind = StoreChange::Kind::Slot;
            } else if (kind == kCrosspointKind) {
                change.kind = StoreChange::Kind::Crosspoint;
            } else {
                continue;
            }
            change.device = rows.text(row, 2);
            change.database = rows.number(row, 3);
            change.index = rows.number(row, 4);
            change.text = rows.text(row, 5);
            change.source = rows.number(row, 6);
            change.who = rows.text(row, 7);
            found.push_back(std::move(change));
            newest = rows.integer(row, 0);
        }
    });
    if (full) {
        return takeAll(*full);
    }
    lastSeen_ = newest;
    // Only the last change of each entry counts: earlier ones were
    // overwritten, and this host may have written the entry since.
    std::map<std::tuple<StoreChange::Kind, std::string, int, int>, std::size_t> last;
    for (std::size_t i = 0; i < found.size(); ++i) {
        last[{found[i].kind, found[i].device, found[i].database, found[i].index}] = i;
    }
    std::vector<StoreChange> changes;
    for (std::size_t i = 0; i < found.size(); ++i) {
        StoreChange& change = found[i];
        if (last[{change.kind, change.device, change.database, change.index}] == i &&
            take(change)) {
            changes.push_back(std::move(change));
        }
    }
    return changes;
}

bool PostgresNameStore::take(StoreChange& change) {
    switch (change.kind) {
        case StoreChange::Kind::Name: {
            const std::optional<std::string> known =
                name(change.device, change.database, change.index);
            if (known == change.text) {
                return false;
            }
            change.oldText = known.value_or("");
            remember(change.device, change.database, change.index, change.text);
            return true;
        }
        case StoreChange::Kind::Slot: {
            std::string known = slot(change.device, change.index);
            if (known == change.text) {
                return false;
            }
            change.oldText = std::move(known);
            rememberSlot(change.device, change.index, change.text);
            return true;
        }
        case StoreChange::Kind::Crosspoint: {
            const std::map<int, int> known = crosspoints(change.device);
            const auto found = known.find(change.index);
            if (found != known.end() && found->second == change.source) {
                return false;
            }
            change.oldSource = found == known.end() ? 0 : found->second;
            rememberCrosspoint(change.device, change.index, change.source);
            return true;
        }
    }
    return false;
}

std::vector<StoreChange> PostgresNameStore::takeAll(const Snapshot& snapshot) {
    std::vector<StoreChange> changes;
    for (const auto& [key, text] : snapshot.names) {
        StoreChange change{StoreChange::Kind::Name,
                           std::get<0>(key),
                           std::get<1>(key),
                           std::get<2>(key),
                           text,
                           "",
                           0,
                           0,
                           kReReadWriter};
        if (take(change)) {
            changes.push_back(std::move(change));
        }
    }
    for (const auto& [key, text] : snapshot.slots) {
        StoreChange change{
            StoreChange::Kind::Slot, key.first, 0, key.second, text, "", 0, 0, kReReadWriter};
        if (take(change)) {
            changes.push_back(std::move(change));
        }
    }
    for (const auto& [device, routes] : snapshot.crosspoints) {
        for (const auto& [destination, source] : routes) {
            StoreChange change{StoreChange::Kind::Crosspoint,
                               device,
                               0,
                               destination,
                               "",
                               "",
                               source,
                               0,
                               kReReadWriter};
            if (take(change)) {
                changes.push_back(std::move(change));
            }
        }
    }
    lastSeen_ = snapshot.lastSeen;
    readOnConnection_ = db_.connections();
    readAfterUnconfirmed_ = db_.unconfirmedCommits();
    return changes;
}

void PostgresNameStore::insertHistory(const NameWrite& write, const std::string& oldText,
                                      const std::string& time, long long batch) {
    db_.run("cannot write a name",
            "INSERT INTO panelhost.names (device, db, idx, text) VALUES ($1, $2, $3, $4) "
            "ON CONFLICT (device, db, idx) DO UPDATE SET text = excluded.text",
            {write.device, number(write.database), number(write.index), write.text});
    db_.run("cannot record the history of a name",
            "INSERT INTO panelhost.history (time, who, device, device_number, db, idx, old, new, "
            "batch, restores) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, NULLIF($9::bigint, 0), "
            "NULLIF($10::bigint, 0))",
            {time, write.who, write.device, number(write.deviceNumber), number(write.database),
             number(write.index), oldText, write.text, number(batch), number(write.restores)});
}

void PostgresNameStore::commitNames(const std::vector<NameWrite>& writes) {
    db_.transaction("cannot write names", [&] {
        lockWrites();
        const std::string time = utcNow();
        const std::vector<std::string> replaced = oldTexts(writes);
        long long seq = 0;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            insertHistory(writes[i], replaced[i], time, 0);
            seq = recordChange(kNameKind, writes[i].device, writes[i].database, writes[i].index,
                               writes[i].text, 0, writes[i].who);
        }
        announce(seq);
    });
}

NameBatch PostgresNameStore::writeBatch(const NameBatch& batch,
                                        const std::vector<NameWrite>& writes) {
    NameBatch recorded = batch;
    db_.transaction("cannot record a batch of names", [&] {
        lockWrites();
        recorded.time = utcNow();
        const Result inserted = db_.run(
            "cannot record a batch of names",
            "INSERT INTO panelhost.batches (time, who, kind, what, undoes) "
            "VALUES ($1, $2, $3, $4, NULLIF($5::bigint, 0)) RETURNING id",
            {recorded.time, recorded.who, recorded.kind, recorded.what, number(recorded.undoes)});
        recorded.id = inserted.integer(0, 0);
        const std::vector<std::string> replaced = oldTexts(writes);
        long long seq = 0;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            insertHistory(writes[i], replaced[i], recorded.time, recorded.id);
            seq = recordChange(kNameKind, writes[i].device, writes[i].database, writes[i].index,
                               writes[i].text, 0, recorded.who);
        }
        announce(seq);
    });
    remember(writes);
    return recorded;
}

void PostgresNameStore::commitSlot(const std::string& device, int index, const std::string& text,
                                   const std::string& who) {
    db_.transaction("cannot write a slot", [&] {
        lockWrites();
        db_.run("cannot write a slot",
                "INSERT INTO panelhost.slots (device, idx, text) VALUES ($1, $2, $3) "
                "ON CONFLICT (device, idx) DO UPDATE SET text = excluded.text",
                {device, number(index), text});
        announce(recordChange(kSlotKind, device, 0, index, text, 0, who));
    });
}

void PostgresNameStore::commitCrosspoints(const std::string& device,
                                          const std::map<int, int>& changes) {
    db_.transaction("cannot write a crosspoint", [&] {
        lockWrites();
        long long seq = 0;
        for (const auto& [destination, source] : changes) {
            db_.run("cannot write a crosspoint",
                    "INSERT INTO panelhost.crosspoints (device, destination, source) "
                    "VALUES ($1, $2, $3) "
                    "ON CONFLICT (device, destination) DO UPDATE SET source = excluded.source",
                    {device, number(destination), number(source)});
            seq = recordChange(kCrosspointKind, device, 0, destination, "", source, kRouter);
        }
        announce(seq);
    });
}

std::vector<HistoryEntry> PostgresNameStore::entries(const Result& rows) const {
    std::vector<HistoryEntry> found;
    found.reserve(static_cast<std::size_t>(rows.rows()));
    for (int row = 0; row < rows.rows(); ++row) {
        found.push_back(HistoryEntry{rows.integer(row, 0), rows.text(row, 1), rows.text(row, 2),
                                     rows.text(row, 3), rows.number(row, 4), rows.number(row, 5),
                                     rows.number(row, 6), rows.text(row, 7), rows.text(row, 8),
                                     rows.integer(row, 9), rows.text(row, 10), rows.text(row, 11),
                                     rows.number(row, 12), rows.integer(row, 13)});
    }
    return found;
}

std::vector<HistoryEntry> PostgresNameStore::history(const HistoryQuery& query) const {
    const std::string sql = std::string(kEntryColumns) +
                            "WHERE ($1::text IS NULL OR device = $1) "
                            "AND ($2::integer IS NULL OR db = $2) "
                            "AND ($3::integer IS NULL OR idx = $3) "
                            "AND ($4::bigint = 0 OR id < $4) ORDER BY id DESC LIMIT $5::bigint";
    const auto optionalNumber = [](const std::optional<int>& value) {
        return value ? number(*value) : std::nullopt;
    };
    return entries(
        db_.run("cannot read the history", sql.c_str(),
                {query.device, optionalNumber(query.database), optionalNumber(query.index),
                 number(query.before), number(query.limit)}));
}

std::optional<HistoryEntry> PostgresNameStore::historyEntry(long long id) const {
    const std::string sql = std::string(kEntryColumns) + "WHERE id = $1::bigint";
    std::vector<HistoryEntry> found =
        entries(db_.run("cannot read the history", sql.c_str(), {number(id)}));
    if (found.empty()) {
        return std::nullopt;
    }
    return std::move(found.front());
}

std::vector<HistoryEntry> PostgresNameStore::batchEntries(long long id) const {
    const std::string sql = std::string(kEntryColumns) + "WHERE batch = $1::bigint ORDER BY id";
    return entries(db_.run("cannot read the history", sql.c_str(), {number(id)}));
}

long long PostgresNameStore::newestEntry(const std::string& device, int database, int index) const {
    return db_
        .run("cannot read the history",
             "SELECT max(id) FROM panelhost.history WHERE device = $1 AND db = $2::integer "
             "AND idx = $3::integer",
             {device, number(database), number(index)})
        .integer(0, 0);
}

std::optional<NameBatch> PostgresNameStore::batch(long long id) const {
    const Result found = db_.run("cannot read the history",
                                 "SELECT id, time, who, kind, what, undoes FROM panelhost.batches "
                                 "WHERE id = $1::bigint",
                                 {number(id)});
    if (found.rows() == 0) {
        return std::nullopt;
    }
    return NameBatch{found.integer(0, 0), found.text(0, 1), found.text(0, 2),
                     found.text(0, 3),    found.text(0, 4), found.integer(0, 5)};
}

}  // namespace panelhost
