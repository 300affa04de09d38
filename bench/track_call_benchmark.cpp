// The host-thread cost of one Track call through the C interface: flat out
// from 1, 2 and 4 threads, and paced at 1000 calls per second while the
// worker delivers to the local tracking service.
#include <atomic>
#include <thread>
#include <vector>

#include "bench_manager.h"
#include "benchmarks.h"
#include "delivered_events.h"
#include "latency_recorder.h"
#include "ring_floor.h"
#include "support/allocation_counter.h"
#include "support/temp_folder.h"
#include "support/tracking_service.h"
#include "tracked_events.h"

namespace Corvex::Tracking::Bench {

using Testing::allocationsOnThisThread;

namespace {

constexpr int ROUNDS = 40;

constexpr int PACED_CALLS = 2000;
constexpr int64_t PACED_PERIOD_NS = 1000000;

struct ThreadResult {
    std::vector<int64_t> samples;
    int64_t allocations = 0;
};

// One thread's share of a round: each call timed on its own.
void timedCalls(::TrackingManager* manager, EventKind kind, int calls, ThreadResult& result) {
    result.samples.clear();
    const int64_t allocationsBefore = allocationsOnThisThread();
    for (int i = 0; i < calls; ++i) {
        const int64_t start = nowNs();
        trackEvent(manager, kind, i);
        result.samples.push_back(nowNs() - start);
    }
    result.allocations = allocationsOnThisThread() - allocationsBefore;
}

void trackCallFlatOut(benchmark::State& state, EventKind kind) {
    const auto threads = static_cast<int>(state.range(0));
    const int perThread = ROUND_CALLS / threads;
    Testing::TempFolder folder("bench_track_call");
    BenchManager manager(ManagerSetup{folder.path()});
    std::vector<ThreadResult> results(static_cast<size_t>(threads));
    for (ThreadResult& result : results) result.samples.reserve(static_cast<size_t>(ROUND_CALLS));
    // An untimed round fills the event pool, as a running game's first
    // events do; the session's open event goes with it.
    timedCalls(manager.handle(), kind, ROUND_CALLS, results[0]);
    manager.drain();

    LatencyRecorder recorder;
    recorder.reserve(static_cast<size_t>(ROUND_CALLS) * ROUNDS);
    int64_t refused = 0;
    int64_t allocations = 0;
    int64_t calls = 0;

    for (auto _ : state) {
        if (threads == 1) {
            timedCalls(manager.handle(), kind, perThread, results[0]);
        } else {
            // The threads start together, so that their calls overlap.
            std::atomic<bool> go{false};
            std::vector<std::thread> workers;
            for (int t = 0; t < threads; ++t) {
                workers.emplace_back([&, t] {
                    while (!go.load()) std::this_thread::yield();
                    timedCalls(manager.handle(), kind, perThread, results[static_cast<size_t>(t)]);
                });
            }
            go = true;
            for (std::thread& worker : workers) worker.join();
        }
        int64_t roundNs = 0;
        for (const ThreadResult& result : results) {
            for (int64_t sample : result.samples) roundNs += sample;
            recorder.addAll(result.samples);
            allocations += result.allocations;
        }
        const int64_t roundCalls = int64_t{perThread} * threads;
        calls += roundCalls;
        refused += roundCalls - manager.pending();
        setMeanIterationTime(state, roundNs, roundCalls);
        manager.drain();
    }
    recorder.report(state);
    state.counters["refused"] = static_cast<double>(refused);
    state.counters["allocs_per_call"] =
        calls > 0 ? static_cast<double>(allocations) / static_cast<double>(calls) : 0;
}

// Rounds of typed Track calls alternating with rounds of the format's floor,
// over written blocks and on a new file, with the same event text. The
// machine's speed drifts over seconds, so ratios of rounds made milliseconds
// apart are steadier than those of benchmarks run one after another.
void trackCallAgainstFloor(benchmark::State& state) {
    Testing::TempFolder folder("bench_track_floor");
    Testing::TempFolder writtenFolder("bench_floor_written", Testing::TempFolder::Create::Now);
    Testing::TempFolder freshFolder("bench_floor_fresh", Testing::TempFolder::Create::Now);
    const std::string text = levelEvent().toJsonText();
    RingFloor written(writtenFolder.path(), text, false, ROUND_CALLS);
    RingFloor fresh(freshFolder.path(), text, true, ROUND_CALLS);
    BenchManager manager(ManagerSetup{folder.path()});
    ThreadResult result;
    result.samples.reserve(static_cast<size_t>(ROUND_CALLS));
    timedCalls(manager.handle(), EventKind::LevelStart, ROUND_CALLS, result);  // fills the pool
    manager.drain();

    LatencyRecorder track, writtenFloor, freshFloor;
    for (LatencyRecorder* recorder : {&track, &writtenFloor, &freshFloor}) {
        recorder->reserve(static_cast<size_t>(ROUND_CALLS) * ROUNDS);
    }
    const auto floorRound = [](RingFloor& ring, LatencyRecorder& recorder) {
        for (int i = 0; i < ROUND_CALLS; ++i) {
            const int64_t start = nowNs();
            ring.call();
            recorder.add(nowNs() - start);
        }
        ring.rewind();
    };
    for (auto _ : state) {
        floorRound(written, writtenFloor);
        floorRound(fresh, freshFloor);
        timedCalls(manager.handle(), EventKind::LevelStart, ROUND_CALLS, result);
        int64_t roundNs = 0;
        for (int64_t sample : result.samples) roundNs += sample;
        track.addAll(result.samples);
        setMeanIterationTime(state, roundNs, ROUND_CALLS);
        manager.drain();
    }
    track.report(state);
    const double floorP50 = writtenFloor.percentileUs(0.50);
    const double floorP99 = writtenFloor.percentileUs(0.99);
    const double freshP99 = freshFloor.percentileUs(0.99);
    state.counters["floor_p50_us"] = floorP50;
    state.counters["floor_p99_us"] = floorP99;
    state.counters["fresh_floor_p99_us"] = freshP99;
    state.counters["p50_over_floor"] = track.percentileUs(0.50) / floorP50;
    state.counters["p99_over_floor"] = track.percentileUs(0.99) / floorP99;
    state.counters["p99_over_fresh_floor"] = track.percentileUs(0.99) / freshP99;
    if (!written.ok() || !fresh.ok()) state.SkipWithError("a floor write failed");
}

void trackCallPaced(benchmark::State& state, EventKind kind) {
    Testing::TrackingService service;
    service.start();
    DeliveredEvents delivered(service, eventNameOf(kind));
    Testing::TempFolder folder("bench_track_paced");
    // Batches of up to 1000 events, so that the worker keeps up with 1000
    // events per second at its default pace of one pass per 100 ms.
    ManagerSetup setup{folder.path()};
    setup.deliver = true;
    setup.service = &service;
    setup.flushSendSize = 1000;
    BenchManager manager(setup);
    if (!manager.waitUntilEmpty(10000)) {
        state.SkipWithError("the session's open event was not delivered");
        return;
    }

    LatencyRecorder recorder;
    recorder.reserve(PACED_CALLS);
    int64_t calls = 0;
    for (auto _ : state) {
        int64_t totalNs = 0;
        int64_t next = nowNs();
        for (int i = 0; i < PACED_CALLS; ++i) {
            next += PACED_PERIOD_NS;
            sleepUntilNs(next);
            const int64_t start = nowNs();
            trackEvent(manager.handle(), kind, i);
            const int64_t elapsed = nowNs() - start;
            recorder.add(elapsed);
            totalNs += elapsed;
        }
        calls += PACED_CALLS;
        setMeanIterationTime(state, totalNs, PACED_CALLS);
    }
    const bool emptied = manager.waitUntilEmpty(20000);
    recorder.report(state);
    state.counters["refused"] = static_cast<double>(calls - delivered.named());
    state.counters["requests"] = static_cast<double>(delivered.requests());
    if (!emptied) state.SkipWithError("the queue did not empty within 20 s");
}

}  // namespace

void registerTrackCallBenchmarks() {
    for (EventKind kind : {EventKind::LevelStart, EventKind::Purchase, EventKind::CustomJson}) {
        benchmark::RegisterBenchmark((std::string("TrackCall/") + kindLabel(kind)).c_str(),
                                     trackCallFlatOut, kind)
            ->ArgName("threads")
            ->Arg(1)
            ->Arg(2)
            ->Arg(4)
            ->Iterations(ROUNDS)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("TrackVsFloor/LevelStart", trackCallAgainstFloor)
        ->Iterations(ROUNDS)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    for (EventKind kind : {EventKind::LevelStart, EventKind::Purchase, EventKind::CustomJson}) {
        benchmark::RegisterBenchmark((std::string("TrackPaced/") + kindLabel(kind)).c_str(),
                                     trackCallPaced, kind)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace Corvex::Tracking::Bench
