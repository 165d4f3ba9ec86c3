#include "SqliteNameStore.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "SqliteStatement.h"
#include "UtcTime.h"

namespace panelhost {
namespace {

constexpr int kSchemaVersion = 1;
// How long a write waits while another connection (an account change, also
// from another process) commits; such commits take milliseconds, and a name
// write that waits is better than one refused.
constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kSchema = R"sql(
CREATE TABLE names (device TEXT NOT NULL, db INTEGER NOT NULL, idx INTEGER NOT NULL,
                    text TEXT NOT NULL, PRIMARY KEY (device, db, idx));
CREATE TABLE slots (device TEXT NOT NULL, idx INTEGER NOT NULL, text TEXT NOT NULL,
                    PRIMARY KEY (device, idx));
CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL,
                      who TEXT NOT NULL, device TEXT NOT NULL, device_number INTEGER NOT NULL,
                      db INTEGER NOT NULL, idx INTEGER NOT NULL, old TEXT NOT NULL,
                      new TEXT NOT NULL);
CREATE INDEX history_entry ON history (device, db, idx);
)sql";

// Batches came after the first files were made; a file without them gets
// them on opening. Older panelhosts ignore the added columns and write
// them as NULL (no batch, nothing restored), so the format stays 1.
constexpr const char* kBatches = R"sql(
CREATE TABLE IF NOT EXISTS batches (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL,
                                    who TEXT NOT NULL, kind TEXT NOT NULL, what TEXT NOT NULL,
                                    undoes INTEGER);
ALTER TABLE history ADD COLUMN batch INTEGER;
ALTER TABLE history ADD COLUMN restores INTEGER;
CREATE INDEX history_batch ON history (batch);
)sql";

// The columns of a history entry as readEntries() reads them.
constexpr const char* kEntryColumns =
    "SELECT id, time, who, device, device_number, db, idx, old, new, batch, "
    "(SELECT kind FROM batches b WHERE b.id = history.batch), "
    "(SELECT what FROM batches b WHERE b.id = history.batch), "
    "(SELECT count(*) FROM history c WHERE c.batch = history.batch), restores FROM history ";

HistoryEntry entryOf(const SqliteStatement& row) {
    return HistoryEntry{row.integer(0), row.text(1),    row.text(2),   row.text(3),
                        row.number(4),  row.number(5),  row.number(6), row.text(7),
                        row.text(8),    row.integer(9), row.text(10),  row.text(11),
                        row.number(12), row.integer(13)};
}

// Every history entry `select` yields, in its order; throws StoreError
// unless the read runs to its end.
std::vector<HistoryEntry> entriesOf(SqliteStatement& select, const SqliteConnection& db) {
    std::vector<HistoryEntry> entries;
    int step = SQLITE_ROW;
    while ((step = select.step()) == SQLITE_ROW) {
        entries.push_back(entryOf(select));
    }
    if (step != SQLITE_DONE) {
        db.fail("cannot read the history");
    }
    return entries;
}

// Added after the first data files were made, so created where missing; a
// panelhost of the same format that does not know it leaves it alone.
constexpr const char* kCrosspointSchema = R"sql(
CREATE TABLE IF NOT EXISTS crosspoints (device TEXT NOT NULL, destination INTEGER NOT NULL,
                                        source INTEGER NOT NULL, PRIMARY KEY (device, destination));
)sql";

// Holds the lock file beside `file`, or throws StoreError when another
// process holds it or it cannot be used.
FileLock lockOf(const std::filesystem::path& file) {
    try {
        return FileLock(file.string() + "-lock");
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::resource_unavailable_try_again) {
            throw StoreError(file.string() +
                             ": it is in use by another process (is another panelhost running?)");
        }
        throw StoreError(file.string() + ": its lock file cannot be used: " + error.what());
    }
}

// Whether `file` is still to be made (missing or empty). Throws StoreError
// for an existing file that cannot be written: SQLite would open it
// read-only and fail later with a vague message.
bool isFresh(const std::filesystem::path& file) {
    std::error_code ignored;
    const bool fresh =
        !std::filesystem::exists(file, ignored) || std::filesystem::file_size(file, ignored) == 0;
    if (!fresh && access(file.c_str(), W_OK) != 0) {
        throw StoreError(file.string() + ": cannot be written (" + std::strerror(errno) +
                         "); it is left as it is");
    }
    return fresh;
}

}  // namespace

SqliteNameStore::SqliteNameStore(const std::filesystem::path& file, const SeedData& seed)
    : lock_(lockOf(file)), fresh_(isFresh(file)), db_(file, fresh_, kBusyTimeoutMs) {
    if (!fresh_) {
        checkExisting();
    }
    {
        SqliteStatement wal(db_.handle(), "PRAGMA journal_mode=WAL");
        if (wal.step() != SQLITE_ROW || wal.text(0) != "wal") {
            db_.fail("cannot switch to write-ahead logging");
        }
    }
    db_.execute("PRAGMA synchronous=FULL");
    if (fresh_) {
        create(seed);
    }
    addBatches();
    db_.execute(kCrosspointSchema);
    load();
}

void SqliteNameStore::checkExisting() {
    SqliteStatement id(db_.handle(), "PRAGMA application_id");
    const int step = id.step();
    if (step == SQLITE_NOTADB || step == SQLITE_CORRUPT) {
        throw StoreError(db_.file().string() +
                         ": is not a panelhost data file (not a SQLite database, or corrupt); "
                         "it is left as it is");
    }
    if (step != SQLITE_ROW) {
        db_.fail("cannot be read");
    }
    if (id.integer(0) != SqliteConnection::kApplicationId) {
        throw StoreError(db_.file().string() +
                         ": is a SQLite database of another program, not a panelhost data file; "
                         "it is left as it is");
    }
    SqliteStatement check(db_.handle(), "PRAGMA quick_check");
    if (check.step() != SQLITE_ROW || check.text(0) != "ok") {
        throw StoreError(db_.file().string() + ": is corrupt (" + check.text(0) +
                         "); it is left as it is");
    }
    SqliteStatement version(db_.handle(), "PRAGMA user_version");
    if (version.step() != SQLITE_ROW || version.number(0) != kSchemaVersion) {
        throw StoreError(db_.file().string() + ": has data format " + version.text(0) +
                         ", this panelhost reads format " + std::to_string(kSchemaVersion) +
                         "; it is left as it is");
    }
}

void SqliteNameStore::create(const SeedData& seed) {
    db_.transaction("BEGIN EXCLUSIVE", [&] {
        db_.execute(
            ("PRAGMA application_id=" + std::to_string(SqliteConnection::kApplicationId)).c_str());
        db_.execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        db_.execute(kSchema);
        SqliteStatement name(db_.handle(),
                             "INSERT INTO names (device, db, idx, text) VALUES (?, ?, ?, ?)");
        for (const SeedData::Name& entry : seed.names) {
            name.bind(1, entry.device)
                .bind(2, entry.database)
                .bind(3, entry.index)
                .bind(4, entry.text);
            if (name.step() != SQLITE_DONE) {
                db_.fail("cannot seed names");
            }
            name.reset();
        }
        SqliteStatement slot(db_.handle(),
                             "INSERT INTO slots (device, idx, text) VALUES (?, ?, ?)");
        for (const SeedData::Slot& entry : seed.slots) {
            slot.bind(1, entry.device).bind(2, entry.index).bind(3, entry.text);
            if (slot.step() != SQLITE_DONE) {
                db_.fail("cannot seed slots");
            }
            slot.reset();
        }
    });
}

void SqliteNameStore::addBatches() {
    SqliteStatement columns(db_.handle(),
                            "SELECT 1 FROM pragma_table_info('history') WHERE name = 'batch'");
    const int step = columns.step();
    if (step == SQLITE_ROW) {
        return;
    }
    if (step != SQLITE_DONE) {
        db_.fail("cannot be read");
    }
    db_.transaction("BEGIN IMMEDIATE", [&] { db_.execute(kBatches); });
}

void SqliteNameStore::load() {
    SqliteStatement names(db_.handle(), "SELECT device, db, idx, text FROM names");
    int step = SQLITE_ROW;
    while ((step = names.step()) == SQLITE_ROW) {
        remember(names.text(0), names.number(1), names.number(2), names.text(3));
    }
    if (step != SQLITE_DONE) {
        db_.fail("cannot read the names");
    }
    SqliteStatement slots(db_.handle(), "SELECT device, idx, text FROM slots");
    while ((step = slots.step()) == SQLITE_ROW) {
        rememberSlot(slots.text(0), slots.number(1), slots.text(2));
    }
    if (step != SQLITE_DONE) {
        db_.fail("cannot read the slots");
    }
    SqliteStatement crosspoints(db_.handle(),
                                "SELECT device, destination, source FROM crosspoints");
    while ((step = crosspoints.step()) == SQLITE_ROW) {
        rememberCrosspoint(crosspoints.text(0), crosspoints.number(1), crosspoints.number(2));
    }
    if (step != SQLITE_DONE) {
        db_.fail("cannot read the crosspoints");
    }
}

void SqliteNameStore::insertHistory(const NameWrite& write, const std::string& oldText,
                                    const std::string& time, long long batch) {
    SqliteStatement upsert(db_.handle(),
                           "INSERT INTO names (device, db, idx, text) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT (device, db, idx) DO UPDATE SET text = excluded.text");
    upsert.bind(1, write.device).bind(2, write.database).bind(3, write.index).bind(4, write.text);
    if (upsert.step() != SQLITE_DONE) {
        db_.fail("cannot write a name");
    }
    SqliteStatement history(
        db_.handle(),
        "INSERT INTO history (time, who, device, device_number, db, idx, old, new, batch, "
        "restores) VALUES (?, ?, ?, ?, ?, ?, ?, ?, NULLIF(?, 0), NULLIF(?, 0))");
    history.bind(1, time)
        .bind(2, write.who)
        .bind(3, write.device)
        .bind(4, write.deviceNumber)
        .bind(5, write.database)
        .bind(6, write.index)
        .bind(7, oldText)
        .bind(8, write.text)
        .bind(9, batch)
        .bind(10, write.restores);
    if (history.step() != SQLITE_DONE) {
        db_.fail("cannot record the history of a name");
    }
}

void SqliteNameStore::commitNames(const std::vector<NameWrite>& writes) {
    db_.transaction("BEGIN IMMEDIATE", [&] { writeAll(writes, 0); });
}

NameBatch SqliteNameStore::writeBatch(const NameBatch& batch,
                                      const std::vector<NameWrite>& writes) {
    NameBatch recorded = batch;
    db_.transaction("BEGIN IMMEDIATE", [&] {
        recorded.time = utcNow();
        SqliteStatement insert(
            db_.handle(),
            "INSERT INTO batches (time, who, kind, what, undoes) VALUES (?, ?, ?, ?, "
            "NULLIF(?, 0))");
        insert.bind(1, recorded.time)
            .bind(2, recorded.who)
            .bind(3, recorded.kind)
            .bind(4, recorded.what)
            .bind(5, recorded.undoes);
        db_.expectDone(insert.step(), "cannot record a batch of names");
        recorded.id = sqlite3_last_insert_rowid(db_.handle());
        writeAll(writes, recorded.id);
    });
    remember(writes);
    return recorded;
}

// Runs inside a transaction that the caller began.
void SqliteNameStore::writeAll(const std::vector<NameWrite>& writes, long long batch) {
    const std::string time = utcNow();
    const std::vector<std::string> replaced = oldTexts(writes);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        insertHistory(writes[i], replaced[i], time, batch);
    }
}

void SqliteNameStore::commitSlot(const std::string& device, int index, const std::string& text,
                                 const std::string& /*who*/) {
    SqliteStatement upsert(db_.handle(),
                           "INSERT INTO slots (device, idx, text) VALUES (?, ?, ?) "
                           "ON CONFLICT (device, idx) DO UPDATE SET text = excluded.text");
    upsert.bind(1, device).bind(2, index).bind(3, text);
    if (upsert.step() != SQLITE_DONE) {
        db_.fail("cannot write a slot");
    }
}

void SqliteNameStore::commitCrosspoints(const std::string& device,
                                        const std::map<int, int>& changes) {
    db_.transaction("BEGIN IMMEDIATE", [&] {
        SqliteStatement upsert(
            db_.handle(),
            "INSERT INTO crosspoints (device, destination, source) VALUES (?, ?, ?) "
            "ON CONFLICT (device, destination) DO UPDATE SET source = excluded.source");
        for (const auto& [destination, source] : changes) {
            upsert.bind(1, device).bind(2, destination).bind(3, source);
            if (upsert.step() != SQLITE_DONE) {
                db_.fail("cannot write a crosspoint");
            }
            upsert.reset();
        }
    });
}

std::vector<HistoryEntry> SqliteNameStore::history(const HistoryQuery& query) const {
    SqliteStatement select(db_.handle(),
                           (std::string(kEntryColumns) +
                            "WHERE (?1 IS NULL OR device = ?1) AND (?2 IS NULL OR db = ?2) "
                            "AND (?3 IS NULL OR idx = ?3) AND (?4 = 0 OR id < ?4) "
                            "ORDER BY id DESC LIMIT ?5")
                               .c_str());
    if (query.device) {
        select.bind(1, *query.device);
    }
    if (query.database) {
        select.bind(2, *query.database);
    }
    if (query.index) {
        select.bind(3, *query.index);
    }
    select.bind(4, query.before).bind(5, query.limit);
    return entriesOf(select, db_);
}

std::vector<HistoryEntry> SqliteNameStore::readEntries(const char* where, long long value,
                                                       int limit) const {
    SqliteStatement select(db_.handle(),
                           (std::string(kEntryColumns) + where + " ORDER BY id LIMIT ?2").c_str());
    select.bind(1, value).bind(2, limit);
    return entriesOf(select, db_);
}

std::optional<HistoryEntry> SqliteNameStore::historyEntry(long long id) const {
    std::vector<HistoryEntry> found = readEntries("WHERE id = ?1", id, 1);
    if (found.empty()) {
        return std::nullopt;
    }
    return std::move(found.front());
}

std::vector<HistoryEntry> SqliteNameStore::batchEntries(long long id) const {
    return readEntries("WHERE batch = ?1", id, -1);
}

long long SqliteNameStore::newestEntry(const std::string& device, int database, int index) const {
    SqliteStatement select(db_.handle(),
                           "SELECT max(id) FROM history WHERE device = ? AND db = ? AND idx = ?");
    select.bind(1, device).bind(2, database).bind(3, index);
    if (select.step() != SQLITE_ROW) {
        db_.fail("cannot read the history");
    }
    return select.integer(0);
}

std::optional<NameBatch> SqliteNameStore::batch(long long id) const {
    SqliteStatement select(db_.handle(),
                           "SELECT id, time, who, kind, what, undoes FROM batches WHERE id = ?");
    select.bind(1, id);
    const int step = select.step();
    if (step == SQLITE_DONE) {
        return std::nullopt;
    }
    if (step != SQLITE_ROW) {
        db_.fail("cannot read the history");
    }
    return NameBatch{select.integer(0), select.text(1), select.text(2),
                     select.text(3),    select.text(4), select.integer(5)};
}

}  // namespace panelhost
