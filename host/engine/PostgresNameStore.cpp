#include "PostgresNameStore.h"

#include <utility>

#include "UtcTime.h"

namespace panelhost {
namespace {

// The schema's format; a database whose schema has another is refused.
constexpr int kSchemaVersion = 1;

// Marks the schema as a panelhost's, as the application id marks a file.
constexpr long long kApplicationId = 0x544F5648;

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

// The columns of a history entry as entries() reads them.
constexpr const char* kEntryColumns =
    "SELECT id, time, who, device, device_number, db, idx, old, new, batch, "
    "(SELECT kind FROM panelhost.batches b WHERE b.id = h.batch), "
    "(SELECT what FROM panelhost.batches b WHERE b.id = h.batch), "
    "(SELECT count(*) FROM panelhost.history c WHERE c.batch = h.batch), restores "
    "FROM panelhost.history h ";

using Result = PostgresConnection::Result;
constexpr auto number = PostgresConnection::number;

}  // namespace

PostgresNameStore::PostgresNameStore(const std::string& url, const SeedData& seed) : db_(url) {
    const Result format = db_.run("cannot be read",
                                  "SELECT to_regnamespace('panelhost') IS NOT NULL, "
                                  "to_regclass('panelhost.format') IS NOT NULL");
    if (format.text(0, 0) != "t") {
        create(seed);
    } else if (format.text(0, 1) != "t") {
        throw StoreError(location() +
                         ": has a schema \"panelhost\" that is not a panelhost's; it is left as it "
                         "is");
    } else {
        const Result found =
            db_.run("cannot be read", "SELECT application_id, version FROM panelhost.format");
        if (found.rows() != 1 || found.integer(0, 0) != kApplicationId) {
            throw StoreError(location() +
                             ": has a schema \"panelhost\" that is not a panelhost's; it is left "
                             "as it is");
        }
        if (found.number(0, 1) != kSchemaVersion) {
            throw StoreError(location() + ": has data format " + found.text(0, 1) +
                             ", this panelhost reads format " + std::to_string(kSchemaVersion) +
                             "; it is left as it is");
        }
    }
    load();
}

void PostgresNameStore::create(const SeedData& seed) {
    db_.transaction("cannot be set up", [&] {
        db_.run("cannot be set up", kSchema);
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
    });
}

void PostgresNameStore::load() {
    const Result names =
        db_.run("cannot read the names", "SELECT device, db, idx, text FROM panelhost.names");
    for (int row = 0; row < names.rows(); ++row) {
        names_[NameKey{names.text(row, 0), names.number(row, 1), names.number(row, 2)}] =
            names.text(row, 3);
    }
    const Result slots =
        db_.run("cannot read the slots", "SELECT device, idx, text FROM panelhost.slots");
    for (int row = 0; row < slots.rows(); ++row) {
        slots_[SlotKey{slots.text(row, 0), slots.number(row, 1)}] = slots.text(row, 2);
    }
    const Result crosspoints =
        db_.run("cannot read the crosspoints",
                "SELECT device, destination, source FROM panelhost.crosspoints");
    for (int row = 0; row < crosspoints.rows(); ++row) {
        crosspoints_[crosspoints.text(row, 0)][crosspoints.number(row, 1)] =
            crosspoints.number(row, 2);
    }
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
        const std::string time = utcNow();
        const std::vector<std::string> replaced = oldTexts(writes);
        for (std::size_t i = 0; i < writes.size(); ++i) {
            insertHistory(writes[i], replaced[i], time, 0);
        }
    });
}

NameBatch PostgresNameStore::writeBatch(const NameBatch& batch,
                                        const std::vector<NameWrite>& writes) {
    NameBatch recorded = batch;
    db_.transaction("cannot record a batch of names", [&] {
        recorded.time = utcNow();
        const Result inserted = db_.run(
            "cannot record a batch of names",
            "INSERT INTO panelhost.batches (time, who, kind, what, undoes) "
            "VALUES ($1, $2, $3, $4, NULLIF($5::bigint, 0)) RETURNING id",
            {recorded.time, recorded.who, recorded.kind, recorded.what, number(recorded.undoes)});
        recorded.id = inserted.integer(0, 0);
        const std::vector<std::string> replaced = oldTexts(writes);
        for (std::size_t i = 0; i < writes.size(); ++i) {
            insertHistory(writes[i], replaced[i], recorded.time, recorded.id);
        }
    });
    remember(writes);
    return recorded;
}

void PostgresNameStore::commitSlot(const std::string& device, int index, const std::string& text) {
    db_.transaction("cannot write a slot", [&] {
        db_.run("cannot write a slot",
                "INSERT INTO panelhost.slots (device, idx, text) VALUES ($1, $2, $3) "
                "ON CONFLICT (device, idx) DO UPDATE SET text = excluded.text",
                {device, number(index), text});
    });
}

void PostgresNameStore::commitCrosspoints(const std::string& device,
                                          const std::map<int, int>& changes) {
    db_.transaction("cannot write a crosspoint", [&] {
        for (const auto& [destination, source] : changes) {
            db_.run("cannot write a crosspoint",
                    "INSERT INTO panelhost.crosspoints (device, destination, source) "
                    "VALUES ($1, $2, $3) "
                    "ON CONFLICT (device, destination) DO UPDATE SET source = excluded.source",
                    {device, number(destination), number(source)});
        }
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
