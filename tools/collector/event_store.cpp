#include "collector/event_store.h"

#include <sqlite3.h>

#include <stdexcept>

namespace Corvex::Tracking::Collector {

namespace {

using nlohmann::json;

constexpr int SCHEMA_VERSION = 1;
constexpr int BUSY_TIMEOUT_MS = 5000;

const char* const SCHEMA = R"sql(
CREATE TABLE requests (
    id INTEGER PRIMARY KEY,
    received_at_ms INTEGER NOT NULL,
    user TEXT NOT NULL,
    method TEXT NOT NULL,
    path TEXT NOT NULL,
    transport TEXT NOT NULL,
    host TEXT NOT NULL,
    status INTEGER NOT NULL,
    reason TEXT NOT NULL,
    body BLOB,
    vx_uid TEXT,
    sdk_version TEXT,
    bundle_id TEXT,
    country TEXT,
    device TEXT,
    platform TEXT,
    os_version TEXT,
    events INTEGER NOT NULL,
    new_events INTEGER NOT NULL,
    duplicates INTEGER NOT NULL
);
CREATE TABLE events (
    id INTEGER PRIMARY KEY,
    e_id TEXT NOT NULL UNIQUE,
    request_id INTEGER NOT NULL REFERENCES requests(id),
    name TEXT NOT NULL,
    value TEXT NOT NULL,
    session_id TEXT NOT NULL,
    time_ms INTEGER NOT NULL,
    cfg_id TEXT NOT NULL,
    app_version TEXT NOT NULL,
    duplicates INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX events_by_name ON events(name);
PRAGMA user_version = 1;
)sql";

// One prepared statement, finalized on destruction.
class Statement {
public:
    Statement(sqlite3* database, const char* sql) : database(database) {
        if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(database));
        }
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const std::string& text) {
        check(sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, int64_t number) {
        check(sqlite3_bind_int64(statement, index, number));
        return *this;
    }
    Statement& bindBlob(int index, const std::string& bytes) {
        check(sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bindNull(int index) {
        check(sqlite3_bind_null(statement, index));
        return *this;
    }
    // Ready to run again with new values.
    void reset() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
    // True while there is a row to read.
    bool step() {
        const int result = sqlite3_step(statement);
        if (result == SQLITE_ROW) return true;
        if (result == SQLITE_DONE) return false;
        throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(database));
    }
    int64_t integer(int column) const { return sqlite3_column_int64(statement, column); }
    std::string text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return data == nullptr
                   ? std::string()
                   : std::string(data,
                                 static_cast<size_t>(sqlite3_column_bytes(statement, column)));
    }

private:
    void check(int result) const {
        if (result != SQLITE_OK) {
            throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(database));
        }
    }

    sqlite3* database;
    sqlite3_stmt* statement = nullptr;
};

// Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* database) : database(database) { run("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!committed) sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit() {
        run("COMMIT");
        committed = true;
    }

private:
    void run(const char* sql) {
        if (sqlite3_exec(database, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(database));
        }
    }

    sqlite3* database;
    bool committed = false;
};

}  // namespace

json StoredEvent::toJson() const {
    return {{"id", id},
            {"receivedAtMs", receivedAtMs},
            {"user", user},
            {"duplicates", duplicates},
            {"event", event.toJson()}};
}

json EventStats::toJson() const {
    json perName = json::array();
    for (const PerName& entry : names) {
        perName.push_back(
            {{"name", entry.name}, {"events", entry.events}, {"duplicates", entry.duplicates}});
    }
    return {{"names", perName},     {"events", events},     {"duplicates", duplicates},
            {"requests", requests}, {"accepted", accepted}, {"failures", failures}};
}

EventStore::EventStore(const std::string& path, Mode mode) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX |
                      (mode == Mode::Create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &database, flags, nullptr) != SQLITE_OK) {
        const std::string message = database ? sqlite3_errmsg(database) : "out of memory";
        sqlite3_close(database);
        database = nullptr;
        throw std::runtime_error("cannot open the database " + path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(database, BUSY_TIMEOUT_MS);
        int64_t version = 0;
        {
            // Finished before the journal mode changes, which no open
            // statement may outlast.
            Statement versionQuery(database, "PRAGMA user_version");
            versionQuery.step();
            version = versionQuery.integer(0);
        }
        if (version == 0 && mode == Mode::Create) {
            execute("PRAGMA journal_mode = WAL");
            Transaction transaction(database);
            execute(SCHEMA);
            transaction.commit();
        } else if (version != SCHEMA_VERSION) {
            throw std::runtime_error(path + " is not a collector database of this version");
        }
        // Durable enough for a development tool, and much faster in WAL mode.
        execute("PRAGMA synchronous = NORMAL");
        execute("PRAGMA foreign_keys = ON");
    } catch (...) {
        sqlite3_close(database);
        throw;
    }
}

EventStore::~EventStore() {
    sqlite3_close(database);
}

void EventStore::execute(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(database, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("database: " + message);
    }
}

RecordResult EventStore::record(const RequestRecord& request, const ReceivedBatch* batch) {
    std::lock_guard<std::mutex> lock(mutex);
    Transaction transaction(database);
    RecordResult result;
    Statement insertRequest(
        database,
        "INSERT INTO requests (received_at_ms, user, method, path, transport, host, status, "
        "reason, body, vx_uid, sdk_version, bundle_id, country, device, platform, os_version, "
        "events, new_events, duplicates) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, 0, "
        "0)");
    insertRequest.bind(1, request.receivedAtMs)
        .bind(2, request.user)
        .bind(3, request.method)
        .bind(4, request.path)
        .bind(5, request.transport)
        .bind(6, request.host)
        .bind(7, static_cast<int64_t>(request.status))
        .bind(8, request.reason);
    if (batch == nullptr) {
        insertRequest.bindBlob(9, request.body);
        for (int column = 10; column <= 16; ++column) insertRequest.bindNull(column);
        insertRequest.bind(17, int64_t{0});
    } else {
        insertRequest.bindNull(9)
            .bind(10, batch->vxUid)
            .bind(11, batch->vxSdkVersion)
            .bind(12, batch->bundleId)
            .bind(13, batch->country)
            .bind(14, batch->device)
            .bind(15, batch->platform)
            .bind(16, batch->osVersion)
            .bind(17, static_cast<int64_t>(batch->events.size()));
    }
    insertRequest.step();
    result.requestId = sqlite3_last_insert_rowid(database);

    if (batch != nullptr) {
        Statement insertEvent(database,
                              "INSERT OR IGNORE INTO events (e_id, request_id, name, value, "
                              "session_id, time_ms, cfg_id, app_version) "
                              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        Statement countDuplicate(database,
                                 "UPDATE events SET duplicates = duplicates + 1 WHERE e_id = ?1");
        for (size_t index = 0; index < batch->events.size(); ++index) {
            const ReceivedEvent& event = batch->events[index];
            insertEvent.reset();
            insertEvent.bind(1, event.eId)
                .bind(2, result.requestId)
                .bind(3, event.eventName)
                .bind(4, event.value.dump())
                .bind(5, event.sessionId)
                .bind(6, event.timeInMs)
                .bind(7, event.cfgId)
                .bind(8, event.appVersion);
            insertEvent.step();
            if (sqlite3_changes(database) == 1) {
                ++result.newEvents;
                result.newEventIndexes.push_back(index);
            } else {
                countDuplicate.reset();
                countDuplicate.bind(1, event.eId).step();
                ++result.duplicates;
            }
        }
        Statement updateCounts(
            database, "UPDATE requests SET new_events = ?1, duplicates = ?2 WHERE id = ?3");
        updateCounts.bind(1, static_cast<int64_t>(result.newEvents))
            .bind(2, static_cast<int64_t>(result.duplicates))
            .bind(3, result.requestId)
            .step();
    }
    transaction.commit();
    return result;
}

std::vector<StoredEvent> EventStore::events(const EventFilter& filter) const {
    std::lock_guard<std::mutex> lock(mutex);
    Statement query(database,
                    "SELECT events.id, events.request_id, requests.received_at_ms, requests.user, "
                    "events.e_id, events.name, events.value, events.session_id, events.time_ms, "
                    "events.cfg_id, events.app_version, events.duplicates "
                    "FROM events JOIN requests ON requests.id = events.request_id "
                    "WHERE events.id > ?1 AND (?2 = '' OR events.name = ?2) "
                    "AND (?3 = '' OR requests.user = ?3) "
                    "ORDER BY events.id LIMIT ?4");
    query.bind(1, filter.afterId)
        .bind(2, filter.name)
        .bind(3, filter.user)
        .bind(4, filter.limit > 0 ? filter.limit : int64_t{-1});
    std::vector<StoredEvent> events;
    while (query.step()) {
        StoredEvent stored;
        stored.id = query.integer(0);
        stored.requestId = query.integer(1);
        stored.receivedAtMs = query.integer(2);
        stored.user = query.text(3);
        stored.event.eId = query.text(4);
        stored.event.eventName = query.text(5);
        stored.event.value = json::parse(query.text(6));
        stored.event.sessionId = query.text(7);
        stored.event.timeInMs = query.integer(8);
        stored.event.cfgId = query.text(9);
        stored.event.appVersion = query.text(10);
        stored.duplicates = query.integer(11);
        events.push_back(std::move(stored));
    }
    return events;
}

EventStats EventStore::stats() const {
    std::lock_guard<std::mutex> lock(mutex);
    EventStats stats;
    Statement perName(database,
                      "SELECT name, COUNT(*), SUM(duplicates) FROM events GROUP BY name "
                      "ORDER BY COUNT(*) DESC, name");
    while (perName.step()) {
        stats.names.push_back({perName.text(0), perName.integer(1), perName.integer(2)});
        stats.events += perName.integer(1);
        stats.duplicates += perName.integer(2);
    }
    Statement requests(database, "SELECT COUNT(*), COALESCE(SUM(status = 200), 0) FROM requests");
    requests.step();
    stats.requests = requests.integer(0);
    stats.accepted = requests.integer(1);
    stats.failures = stats.requests - stats.accepted;
    return stats;
}

int64_t EventStore::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    Transaction transaction(database);
    int64_t removed = 0;
    {
        Statement count(database, "SELECT COUNT(*) FROM events");
        count.step();
        removed = count.integer(0);
    }
    execute("DELETE FROM events; DELETE FROM requests;");
    transaction.commit();
    return removed;
}

}  // namespace Corvex::Tracking::Collector
