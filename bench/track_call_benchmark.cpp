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
#include "support/allocation_counter.h"
#include "support/temp_folder.h"
#include "support/tracking_service.h"
#include "tracked_events.h"

namespace Corvex::Tracking::Bench {

using Testing::allocationsOnThisThread;

namespace {

// The queue refuses events once 1000 wait; a round stays below that and the
// queue is emptied between rounds, so that every timed call is accepted.
constexpr int ROUND_CALLS = 900;
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
    for (EventKind kind : {EventKind::LevelStart, EventKind::Purchase, EventKind::CustomJson}) {
        benchmark::RegisterBenchmark((std::string("TrackPaced/") + kindLabel(kind)).c_str(),
                                     trackCallPaced, kind)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace Corvex::Tracking::Bench
