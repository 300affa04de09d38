// Sustained delivery: one manager sends to the local tracking service over
// HTTPS (through its CONNECT proxy, one reused connection) while the host
// thread keeps tracking. Counts the events the service accepted per second.
#include <chrono>
#include <string>
#include <thread>

#include "bench_manager.h"
#include "benchmarks.h"
#include "delivered_events.h"
#include "latency_recorder.h"
#include "queue/queue_manager.h"
#include "support/temp_folder.h"
#include "support/tracking_service.h"
#include "tracked_events.h"

namespace Corvex::Tracking::Bench {

namespace {

struct DeliveryPlan {
    const char* label;
    // 0 keeps the library's defaults (100 ms and 50 events).
    int32_t queueCheckInterval;
    int32_t flushSendSize;
    // Track calls offered per second; 0 keeps the queue full instead.
    int64_t offeredPerSecond;
    int64_t windowMs;
};

constexpr int64_t WARM_UP_MS = 500;

// The host thread's part: offers events until the deadline. With an offered
// rate it makes the calls due by now and counts those the full queue would
// refuse; without one it tops the queue up whenever there is room.
class Feeder {
public:
    Feeder(BenchManager& manager, const DeliveryPlan& plan) : manager(manager), plan(plan) {}

    void feedUntil(int64_t deadlineNs) {
        const int64_t startNs = nowNs();
        const int64_t offeredBefore = accepted + refused;
        for (int64_t now = startNs; now < deadlineNs; now = nowNs()) {
            if (plan.offeredPerSecond == 0) {
                if (manager.pending() < QueueManager::MAX_PENDING) {
                    offerOne();
                } else {
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
                continue;
            }
            const int64_t due =
                offeredBefore + (now - startNs) * plan.offeredPerSecond / 1000000000;
            while (accepted + refused < due) offerOne();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    int64_t accepted = 0;
    int64_t refused = 0;

private:
    void offerOne() {
        // The feeder is the only thread that adds events, so a queue below
        // its limit accepts the call.
        if (manager.pending() >= QueueManager::MAX_PENDING) {
            ++refused;
            return;
        }
        trackEvent(manager.handle(), EventKind::LevelStart, static_cast<int32_t>(accepted));
        ++accepted;
    }

    BenchManager& manager;
    const DeliveryPlan plan;
};

void sustainedDelivery(benchmark::State& state, DeliveryPlan plan) {
    Testing::TrackingService service;
    service.start();
    DeliveredEvents delivered(service, eventNameOf(EventKind::LevelStart));
    Testing::TempFolder folder("bench_delivery");
    ManagerSetup setup{folder.path()};
    setup.deliver = true;
    setup.service = &service;
    setup.queueCheckInterval = plan.queueCheckInterval;
    setup.flushSendSize = plan.flushSendSize;
    BenchManager manager(setup);
    Feeder feeder(manager, plan);

    for (auto _ : state) {
        feeder.feedUntil(nowNs() + WARM_UP_MS * 1000000);
        const int64_t deliveredBefore = delivered.named();
        const int64_t acceptedBefore = feeder.accepted;
        const int64_t refusedBefore = feeder.refused;
        const int32_t backlogBefore = manager.pending();
        const int64_t windowStart = nowNs();
        feeder.feedUntil(windowStart + plan.windowMs * 1000000);
        const double seconds = static_cast<double>(nowNs() - windowStart) / 1e9;
        const auto eventCount = static_cast<double>(delivered.named() - deliveredBefore);
        state.SetIterationTime(seconds);
        state.counters["delivered_per_s"] = eventCount / seconds;
        state.counters["accepted_per_s"] =
            static_cast<double>(feeder.accepted - acceptedBefore) / seconds;
        state.counters["refused"] = static_cast<double>(feeder.refused - refusedBefore);
        state.counters["backlog_start"] = backlogBefore;
        state.counters["backlog_end"] = manager.pending();
    }
    state.counters["requests"] = static_cast<double>(delivered.requests());
    state.counters["connections"] = service.tunnelCount();
}

}  // namespace

void registerDeliveryBenchmarks() {
    const DeliveryPlan plans[] = {
        {"defaults/full_queue", 0, 0, 0, 4000},
        {"interval1_send1000/full_queue", 1, 1000, 0, 2000},
        {"interval1_send1000/offered:300000", 1, 1000, 300000, 2000},
    };
    for (const DeliveryPlan& plan : plans) {
        benchmark::RegisterBenchmark((std::string("Delivery/") + plan.label).c_str(),
                                     sustainedDelivery, plan)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace Corvex::Tracking::Bench
