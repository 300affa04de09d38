// The event pool and the heap a queued event costs, measured with the
// allocation counter, which replaces this test executable's operator new.
#include <gtest/gtest.h>

#include <iostream>
#include <set>

#include "queue_manager_fakes.h"
#include "support/allocation_counter.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;

namespace {

void fillLevelEvent(TrackingEvent& event, int i) {
    event.eId = "0f8e2c1a-1111-4222-9333-" + std::to_string(100000000000 + i);
    event.eventName = "vxsdk_level_attempt";
    event.id = "7d5e0c2b-2222-4333-8444-555566667777";
    event.timeInMs = 1700000000000 + i;
    event.cfgId = "3a4b5c6d-3333-4444-9555-666677778888";
    event.appVersion = "1.4.0";
    event.setLevelValue(i, "forest");
}

}  // namespace

TEST(QueueManagerPool, SteadyStreamReusesRecordsOnceWarm) {
    ScriptedSender sender;
    QueueManager queue(quickSettings(false), nullptr, &sender, "");
    std::set<const TrackingEvent*> warm;
    // Warm-up: up to 20 events wait at once.
    for (int i = 0; i < 20; ++i) {
        auto event = queue.acquireEvent();
        warm.insert(event.get());
        fillLevelEvent(*event, i);
        ASSERT_TRUE(queue.enqueue(std::move(event)));
    }
    queue.retireOldest(20);

    // Every record handed out is one of the warm ones: none is made anew.
    for (int i = 0; i < 2000; ++i) {
        auto event = queue.acquireEvent();
        EXPECT_EQ(warm.count(event.get()), 1u);
        fillLevelEvent(*event, i);
        ASSERT_TRUE(queue.enqueue(std::move(event)));
        if (queue.pendingCount() == 20) queue.retireOldest(7);
    }
}

TEST(QueueManagerPool, WarmStreamOfOneKindAllocatesNothingPerEvent) {
    TempFolder folder("warm", TempFolder::Create::Now);
    ScriptedSender sender;
    QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
    // Inputs made beforehand, so that only the queue's own work is counted.
    std::vector<std::string> ids;
    for (int i = 0; i < 2000; ++i)
        ids.push_back("0f8e2c1a-1111-4222-9333-" + std::to_string(100000000000 + i));
    const std::string name = "vxsdk_level_attempt", session(36, 's'), label = "forest";
    const auto track = [&](int i) {
        auto event = queue.acquireEvent();
        event->eId = ids[static_cast<size_t>(i)];
        event->eventName = name;
        event->id = session;
        event->timeInMs = 1700000000000 + i;
        event->cfgId = "default";
        event->appVersion = "1.4.0";
        event->setLevelValue(i % 100, label);
        return queue.enqueue(std::move(event));
    };
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(track(i));
    queue.retireOldest(500);

    const int64_t before = allocationsOnThisThread();
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(track(i));
        if (queue.pendingCount() == 500) queue.retireOldest(500);
    }
    // Records, payloads, texts and file entries reuse their buffers; only the
    // list of waiting events takes a block now and then.
    EXPECT_LE(allocationsOnThisThread() - before, 2000 / 32);
}

TEST(QueueManagerPool, RecordsCutAtLoadBecomeSpares) {
    TempFolder folder("pool", TempFolder::Create::Now);
    std::vector<std::string> texts;
    for (int i = 0; i < 1500; ++i) texts.push_back(eventText("e" + std::to_string(i)));
    writeBytes(folder.file(".event_queue"), imageOf(texts, 4096 * 128));
    ScriptedSender sender;
    QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
    ASSERT_EQ(queue.pendingCount(), 1000);

    std::vector<std::unique_ptr<TrackingEvent>> taken;
    taken.reserve(501);
    // The 500 records cut at load are spares: taking them allocates nothing.
    const int64_t before = allocationsOnThisThread();
    for (int i = 0; i < 500; ++i) taken.push_back(queue.acquireEvent());
    EXPECT_EQ(allocationsOnThisThread() - before, 0);
    taken.push_back(queue.acquireEvent());
    EXPECT_GT(allocationsOnThisThread() - before, 0);
}

TEST(QueueManagerPool, QueuedEventCostsLessThanOneKilobyte) {
    ScriptedSender sender;
    QueueManager queue(quickSettings(false), nullptr, &sender, "");
    const int64_t before = liveHeapBytes();
    for (int i = 0; i < QueueManager::MAX_PENDING; ++i) {
        auto event = queue.acquireEvent();
        fillLevelEvent(*event, i);
        ASSERT_TRUE(queue.enqueue(std::move(event)));
    }
    const int64_t perEvent = (liveHeapBytes() - before) / QueueManager::MAX_PENDING;
    RecordProperty("heap_bytes_per_queued_event", std::to_string(perEvent));
    std::cout << "heap bytes per queued event: " << perEvent << "\n";
    EXPECT_LT(perEvent, 1024);
}

TEST(QueueManagerPool, BurstOfLargeEventsLeavesNoHeapBehindOnceDelivered) {
    TempFolder folder("burst", TempFolder::Create::Now);
    ScriptedSender sender;
    QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
    const int64_t before = liveHeapBytes();
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(enqueueNew(queue, "e" + std::to_string(i), 100000));
    ASSERT_TRUE(queue.startWorker());
    ASSERT_TRUE(sender.waitForEvents(200));
    queue.stopWorker();
    ASSERT_EQ(queue.pendingCount(), 0);
    // The 20 MB of texts and as much again of values went back with their
    // records; the pooled records and the sender's log remain.
    EXPECT_LT(liveHeapBytes() - before, 4 << 20);
}
