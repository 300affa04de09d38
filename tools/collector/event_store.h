// The collector's database: every request to the event endpoint and every
// event, in an SQLite file in WAL mode, so that other processes (the events
// and stats commands) read it while the service writes. An event is stored
// once by its "eId"; each later copy only counts as a duplicate.
#pragma once

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "collector/received_batch.h"

struct sqlite3;

namespace Corvex::Tracking::Collector {

struct RequestRecord {
    int64_t receivedAtMs = 0;  // wall-clock milliseconds since 1970
    std::string user;          // the credentials' user name, "" without them
    std::string method;
    std::string path;
    std::string transport;  // "https" or "http"
    std::string host;       // the host the TLS certificate was issued for
    int status = 200;
    std::string reason;  // why it was refused, "" when accepted
    std::string body;    // kept only for refused requests
};

struct RecordResult {
    int64_t requestId = 0;
    int newEvents = 0;
    int duplicates = 0;
    // Positions in the batch of the events stored for the first time.
    std::vector<size_t> newEventIndexes;
};

struct StoredEvent {
    int64_t id = 0;
    int64_t requestId = 0;
    int64_t receivedAtMs = 0;
    std::string user;
    ReceivedEvent event;
    int64_t duplicates = 0;  // copies that arrived after the first

    // {"id":..,"receivedAtMs":..,"user":..,"duplicates":..,"event":{...}}
    nlohmann::json toJson() const;
};

struct EventFilter {
    int64_t afterId = 0;  // only events stored after this one
    std::string name;     // "" for every name
    std::string user;     // "" for every user
    int64_t limit = 0;    // 0 for no limit; else the first ones
};

struct EventStats {
    struct PerName {
        std::string name;
        int64_t events = 0;
        int64_t duplicates = 0;
    };
    std::vector<PerName> names;  // most frequent first
    int64_t events = 0;
    int64_t duplicates = 0;
    int64_t requests = 0;
    int64_t accepted = 0;
    int64_t failures = 0;  // requests answered with anything but 200

    nlohmann::json toJson() const;
};

class EventStore {
public:
    enum class Mode {
        Create,    // creates the file and its tables when missing
        Existing,  // the file must exist
    };

    // Throws std::runtime_error when the file cannot be opened or is not a
    // collector database.
    EventStore(const std::string& path, Mode mode);
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    // Stores the request and, for an accepted one, its batch, in one
    // transaction. Throws std::runtime_error.
    RecordResult record(const RequestRecord& request, const ReceivedBatch* batch);

    // Events in the order they were first stored.
    std::vector<StoredEvent> events(const EventFilter& filter) const;
    EventStats stats() const;
    // Removes every request and event; returns how many events there were.
    int64_t clear();

private:
    void execute(const char* sql) const;

    sqlite3* database = nullptr;
    // One connection, shared by the service's threads.
    mutable std::mutex mutex;
};

}  // namespace Corvex::Tracking::Collector
