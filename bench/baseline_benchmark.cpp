// What the Track call is compared with, on the same event text: making the
// text, the queue file format's floor of two positioned writes (over written
// blocks, and on a file made anew each round), the floor of
// one write() to a file (back to back, and once per
// millisecond like the paced calls), and a row insert into SQLite the
// way a database-backed tracking library stores events (one connection, one
// prepared INSERT), in WAL mode with synchronous=NORMAL and with the default
// rollback journal.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <string>

#include "benchmarks.h"
#include "latency_recorder.h"
#include "ring_floor.h"
#include "support/temp_folder.h"
#include "tracked_events.h"

namespace Corvex::Tracking::Bench {

namespace {

void eventText(benchmark::State& state) {
    const TrackingEvent event = levelEvent();
    for (auto _ : state) {
        std::string text = event.toJsonText();
        benchmark::DoNotOptimize(text);
    }
}

// Rounds of individually timed calls, back to back or one per millisecond;
// `reset` runs between rounds, untimed.
template <typename Call, typename Reset>
void timeRounds(benchmark::State& state, int roundCalls, bool paced, Call&& call, Reset&& reset) {
    LatencyRecorder recorder;
    recorder.reserve(static_cast<size_t>(roundCalls) * static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        int64_t roundNs = 0;
        int64_t next = nowNs();
        for (int i = 0; i < roundCalls; ++i) {
            if (paced) {
                next += 1000000;
                sleepUntilNs(next);
            }
            const int64_t start = nowNs();
            call();
            const int64_t elapsed = nowNs() - start;
            recorder.add(elapsed);
            roundNs += elapsed;
        }
        setMeanIterationTime(state, roundNs, roundCalls);
        reset();
    }
    recorder.report(state);
}

void writeFloor(benchmark::State& state, bool paced) {
    const std::string text = levelEvent().toJsonText();
    Testing::TempFolder folder("bench_write", Testing::TempFolder::Create::Now);
    const int fd =
        ::open(folder.file("events").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        state.SkipWithError("cannot open the file");
        return;
    }
    bool failed = false;
    timeRounds(
        state, paced ? 2000 : ROUND_CALLS, paced,
        [&] {
            failed |= ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size());
        },
        [&] { failed |= ::ftruncate(fd, 0) != 0; });
    ::close(fd);
    if (failed) state.SkipWithError("a write failed");
}

void ringFloor(benchmark::State& state, bool freshFile) {
    Testing::TempFolder folder("bench_ring", Testing::TempFolder::Create::Now);
    RingFloor floor(folder.path(), levelEvent().toJsonText(), freshFile, ROUND_CALLS);
    timeRounds(
        state, ROUND_CALLS, false, [&] { floor.call(); }, [&] { floor.rewind(); });
    if (!floor.ok()) state.SkipWithError("a write failed");
}

enum class Journal { Wal, Default };

void sqliteInsert(benchmark::State& state, Journal journal, int roundCalls) {
    const std::string text = levelEvent().toJsonText();
    Testing::TempFolder folder("bench_sqlite", Testing::TempFolder::Create::Now);
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    const auto execute = [&](const char* sql) {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    bool ok = sqlite3_open(folder.file("events.db").c_str(), &db) == SQLITE_OK;
    if (ok && journal == Journal::Wal) {
        ok = execute("PRAGMA journal_mode=WAL") && execute("PRAGMA synchronous=NORMAL");
    }
    ok = ok && execute("CREATE TABLE events (id INTEGER PRIMARY KEY, event TEXT NOT NULL)");
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO events (event) VALUES (?)", -1, &insert,
                                  nullptr) == SQLITE_OK;
    bool failed = !ok;
    if (ok) {
        timeRounds(
            state, roundCalls, false,
            [&] {
                sqlite3_bind_text(insert, 1, text.data(), static_cast<int>(text.size()),
                                  SQLITE_STATIC);
                failed |= sqlite3_step(insert) != SQLITE_DONE;
                sqlite3_reset(insert);
            },
            [&] { failed |= !execute("DELETE FROM events"); });
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    if (failed) state.SkipWithError("SQLite failed");
}

}  // namespace

void registerBaselineBenchmarks() {
    benchmark::RegisterBenchmark("EventText", eventText)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Baseline/RingWrites", ringFloor, false)
        ->Iterations(40)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Baseline/RingWritesFreshFile", ringFloor, true)
        ->Iterations(40)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Baseline/Write", writeFloor, false)
        ->Iterations(40)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    // The floor of a call made once per millisecond, after a sleep, as the
    // paced Track calls are.
    benchmark::RegisterBenchmark("Baseline/WritePaced", writeFloor, true)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Baseline/SQLiteWal", sqliteInsert, Journal::Wal, ROUND_CALLS)
        ->Iterations(40)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    // Every insert commits with the rollback journal and its syncs: far
    // slower, so fewer calls.
    benchmark::RegisterBenchmark("Baseline/SQLiteDefaultJournal", sqliteInsert, Journal::Default,
                                 50)
        ->Iterations(4)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

}  // namespace Corvex::Tracking::Bench
