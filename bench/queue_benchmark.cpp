// The start-up cost of a saved queue, and the heap that waiting events take.
#include <malloc.h>

#include <optional>
#include <string>

#include "bench_manager.h"
#include "benchmarks.h"
#include "latency_recorder.h"
#include "queue/queue_manager.h"
#include "support/allocation_counter.h"
#include "support/temp_folder.h"
#include "tracked_events.h"

namespace Corvex::Tracking::Bench {

using Testing::liveHeapBytes;

namespace {

// TrackingManager_Create on a save folder whose queue file holds `saved`
// events from an earlier run: the time to make the manager, which loads them.
void createWithSavedQueue(benchmark::State& state) {
    const auto saved = static_cast<int32_t>(state.range(0));
    Testing::TempFolder folder("bench_load");
    ManagerSetup setup{folder.path()};
    setup.start = false;
    {
        BenchManager earlierRun(setup);
        for (int32_t i = 0; i < saved; ++i) {
            trackEvent(earlierRun.handle(), EventKind::LevelStart, i);
        }
    }
    std::optional<BenchManager> manager;
    int32_t loaded = 0;
    for (auto _ : state) {
        const int64_t start = nowNs();
        manager.emplace(setup);
        state.SetIterationTime(static_cast<double>(nowNs() - start) / 1e9);
        loaded = manager->pending();
        manager.reset();
    }
    state.counters["loaded"] = loaded;
}

// Heap that 1000 waiting events take, per event: the bytes requested through
// operator new, and the bytes malloc keeps for them (with its own overhead).
void heapPerQueuedEvent(benchmark::State& state, EventKind kind) {
    double requested = 0;
    double kept = 0;
    for (auto _ : state) {
        Testing::TempFolder folder("bench_heap");
        BenchManager manager(ManagerSetup{folder.path()});
        manager.drain();  // the session's open event
        const int64_t requestedBefore = liveHeapBytes();
        const size_t keptBefore = mallinfo2().uordblks;
        for (int32_t i = 0; i < QueueManager::MAX_PENDING; ++i) {
            trackEvent(manager.handle(), kind, i);
        }
        const int32_t waiting = manager.pending();
        requested = static_cast<double>(liveHeapBytes() - requestedBefore) / waiting;
        kept =
            (static_cast<double>(mallinfo2().uordblks) - static_cast<double>(keptBefore)) / waiting;
        state.SetIterationTime(1e-6);
    }
    state.counters["bytes_per_event"] = requested;
    state.counters["malloc_bytes_per_event"] = kept;
}

}  // namespace

void registerQueueBenchmarks() {
    benchmark::RegisterBenchmark("CreateManager", createWithSavedQueue)
        ->ArgName("saved")
        ->Arg(0)
        ->Arg(1000)
        ->UseManualTime()
        ->MinTime(0.5)
        ->Unit(benchmark::kMillisecond);
    for (EventKind kind : {EventKind::LevelStart, EventKind::Purchase, EventKind::CustomJson}) {
        benchmark::RegisterBenchmark((std::string("HeapPerQueuedEvent/") + kindLabel(kind)).c_str(),
                                     heapPerQueuedEvent, kind)
            ->Iterations(1)
            ->UseManualTime();
    }
}

}  // namespace Corvex::Tracking::Bench
