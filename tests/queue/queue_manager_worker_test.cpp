// The worker: when it flushes, what goes into a batch, what it does with each
// result, and how it stops and starts again.
#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

#include "queue_manager_fakes.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

int64_t elapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

void enqueueIds(QueueManager& queue, int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(enqueueNew(queue, "e" + std::to_string(i)));
}

// The batch sizes the worker forms for events of these text lengths.
std::vector<size_t> batchSizesFor(const std::vector<size_t>& textLengths) {
    ScriptedSender sender;
    QueueManager queue(quickSettings(false), nullptr, &sender, "");
    for (size_t i = 0; i < textLengths.size(); ++i) {
        EXPECT_TRUE(enqueueNew(queue, "e" + std::to_string(i), textLengths[i]));
    }
    EXPECT_TRUE(queue.startWorker());
    EXPECT_TRUE(sender.waitForEvents(textLengths.size()));
    queue.stopWorker();
    EXPECT_EQ(queue.pendingCount(), 0);
    return sender.batchSizes();
}

}  // namespace

TEST(QueueManagerFlush, FullQueueGoesOutWithoutWaitingForTheDelay) {
    InitializationData settings = quickSettings(false);
    settings.QueueCheckInterval = 100;
    settings.SendDelay = 600000;
    ScriptedSender sender;
    QueueManager queue(settings, nullptr, &sender, "");
    ASSERT_TRUE(queue.startWorker());
    enqueueIds(queue, 3);
    ASSERT_TRUE(sender.waitForBatches(1));
    EXPECT_EQ(sender.allIds(), (std::vector<std::string>{"e0", "e1", "e2"}));
}

TEST(QueueManagerFlush, ShortQueueWaitsForTheDelayAfterStartAndAfterEachSend) {
    InitializationData settings = quickSettings(false);
    settings.SendDelay = 300;
    ScriptedSender sender;
    QueueManager queue(settings, nullptr, &sender, "");
    const auto start = Clock::now();
    ASSERT_TRUE(queue.startWorker());
    ASSERT_TRUE(enqueueNew(queue, "first"));
    ASSERT_TRUE(sender.waitForBatches(1));
    EXPECT_GE(elapsedMs(start), 290);

    // The second event arrives right after the send: it waits for the delay
    // counted from that send's completion.
    const auto afterFirst = Clock::now();
    ASSERT_TRUE(enqueueNew(queue, "second"));
    ASSERT_TRUE(sender.waitForBatches(2));
    EXPECT_GE(elapsedMs(afterFirst), 250);
    EXPECT_EQ(sender.batchSizes(), (std::vector<size_t>{1, 1}));
}

TEST(QueueManagerFlush, BatchesAreCutByCountAndByTextBudget) {
    {
        ScriptedSender sender;
        QueueManager queue(quickSettings(false), nullptr, &sender, "");
        enqueueIds(queue, 120);
        ASSERT_TRUE(queue.startWorker());
        ASSERT_TRUE(sender.waitForBatches(3));
        queue.stopWorker();
        EXPECT_EQ(sender.batchSizes(), (std::vector<size_t>{50, 50, 20}));
        std::vector<std::string> expected;
        for (int i = 0; i < 120; ++i) expected.push_back("e" + std::to_string(i));
        EXPECT_EQ(sender.allIds(), expected);
    }
    EXPECT_EQ(batchSizesFor({100000, 100000, 60000}), (std::vector<size_t>{2, 1}));
    EXPECT_EQ(batchSizesFor({125000, 125000, 1000}), (std::vector<size_t>{2, 1}));
    // An event above the budget on its own goes out alone instead of
    // blocking everything behind it.
    EXPECT_EQ(batchSizesFor({300000, 1000, 1000, 400000}), (std::vector<size_t>{1, 2, 1}));
}

TEST(QueueManagerFlush, NothingGoesOutWithoutPermissionOrBatchRoom) {
    SwitchMonitor monitor;
    monitor.allowed = false;
    ScriptedSender sender;
    {
        QueueManager queue(quickSettings(false), &monitor, &sender, "");
        enqueueIds(queue, 5);
        ASSERT_TRUE(queue.startWorker());
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_TRUE(sender.sent().empty());
        monitor.allowed = true;
        ASSERT_TRUE(sender.waitForBatches(1));
        EXPECT_EQ(sender.batchSizes(), std::vector<size_t>{5});
    }
    InitializationData noRoom = quickSettings(false);
    noRoom.FlushSendSize = 0;
    ScriptedSender idle;
    QueueManager queue(noRoom, nullptr, &idle, "");
    enqueueIds(queue, 5);
    ASSERT_TRUE(queue.startWorker());
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_TRUE(idle.sent().empty());
    EXPECT_EQ(queue.pendingCount(), 5);
}

TEST(QueueManagerFlush, FailedBatchStaysAtTheFront) {
    InitializationData settings = quickSettings(false);
    settings.FlushSendSize = 2;
    ScriptedSender sender;
    sender.script({Failed, Failed, Succeeded});
    QueueManager queue(settings, nullptr, &sender, "");
    enqueueIds(queue, 3);
    ASSERT_TRUE(queue.startWorker());
    ASSERT_TRUE(sender.waitForBatches(4));
    queue.stopWorker();
    EXPECT_EQ(sender.allIds(),
              (std::vector<std::string>{"e0", "e1", "e0", "e1", "e0", "e1", "e2"}));
    EXPECT_EQ(queue.pendingCount(), 0);
    EXPECT_EQ(sender.status, Idle);
}

TEST(QueueManagerFlush, ProducersOnManyThreadsLoseNothingWhileBatchesGoOut) {
    TempFolder folder("producers", TempFolder::Create::Now);
    ScriptedSender sender;
    sender.script({Failed, Succeeded, Failed});
    constexpr int PRODUCERS = 4;
    constexpr int EACH = 150;
    {
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
        ASSERT_TRUE(queue.startWorker());
        std::vector<std::thread> producers;
        for (int p = 0; p < PRODUCERS; ++p) {
            producers.emplace_back([&queue, p] {
                for (int i = 0; i < EACH; ++i) {
                    EXPECT_TRUE(
                        enqueueNew(queue, "p" + std::to_string(p) + "-" + std::to_string(i)));
                }
            });
        }
        for (std::thread& producer : producers) producer.join();
        queue.stopWorker();
    }
    // Delivered batches, then what is still saved: every event exactly once,
    // each producer's events in the order it queued them.
    std::vector<std::string> seen = sender.deliveredIds();
    const auto saved = savedIds(folder.file(".event_queue"));
    seen.insert(seen.end(), saved.begin(), saved.end());
    ASSERT_EQ(seen.size(), size_t{PRODUCERS * EACH});
    std::vector<int> next(PRODUCERS, 0);
    for (const std::string& id : seen) {
        const int p = id[1] - '0';
        EXPECT_EQ(id, "p" + std::to_string(p) + "-" + std::to_string(next[p]++));
    }
}

// Stopping interrupts the sender's back-off; the interrupted batch stays
// queued and saved.
TEST(QueueManagerStop, StopDuringBackOffReturnsPromptlyAndKeepsTheBatch) {
    TempFolder folder("backoff", TempFolder::Create::Now);
    ScriptedSender sender;
    sender.setBackOff(20000);
    {
        InitializationData settings = quickSettings();
        settings.QueueCheckInterval = 20000;
        QueueManager queue(settings, nullptr, &sender, folder.path());
        enqueueIds(queue, 3);
        ASSERT_TRUE(queue.startWorker());
        ASSERT_TRUE(sender.waitForSendStart());
        const auto stopping = Clock::now();
        queue.stopWorker();
        EXPECT_LT(elapsedMs(stopping), 2000);
        EXPECT_FALSE(queue.isRunning());
        EXPECT_EQ(sender.status, Idle);
        EXPECT_EQ(queue.pendingCount(), 3);
    }
    EXPECT_EQ(savedIds(folder.file(".event_queue")), (std::vector<std::string>{"e0", "e1", "e2"}));
}

TEST(QueueManagerStop, StopAndStartLoseNothingAndSendNothingTwice) {
    TempFolder folder("restart", TempFolder::Create::Now);
    ScriptedSender sender;
    InitializationData settings = quickSettings();
    // A long pause: each stop below lands after a send has returned and
    // before the pass that would act on its result.
    settings.QueueCheckInterval = 60000;
    settings.FlushSendSize = 4;
    std::vector<std::string> expected;
    {
        QueueManager queue(settings, nullptr, &sender, folder.path());
        for (int round = 0; round < 4; ++round) {
            // Enqueued while stopped: kept in memory and in the file.
            for (int i = 0; i < 3; ++i) {
                expected.push_back("r" + std::to_string(round) + "e" + std::to_string(i));
                ASSERT_TRUE(enqueueNew(queue, expected.back()));
            }
            sender.script({round == 1 ? Failed : Succeeded});
            ASSERT_TRUE(queue.startWorker());
            ASSERT_TRUE(sender.waitForBatches(static_cast<size_t>(round) + 1));
            queue.stopWorker();
            EXPECT_EQ(sender.status, Idle);
        }
        // Round 1's failed batch went out first in round 2; of the twelve
        // events, 3 + 4 + 4 were delivered.
        EXPECT_EQ(queue.pendingCount(), 1);
    }
    std::vector<std::string> delivered = sender.deliveredIds();
    const auto saved = savedIds(folder.file(".event_queue"));
    delivered.insert(delivered.end(), saved.begin(), saved.end());
    EXPECT_EQ(delivered, expected);
}

TEST(QueueManagerStop, OddPauseSettingsNeitherHangNorSpin) {
    for (int32_t interval : {-1, 0}) {
        SCOPED_TRACE(interval);
        InitializationData settings = quickSettings(false);
        settings.QueueCheckInterval = interval;
        SwitchMonitor monitor;
        ScriptedSender sender;
        QueueManager queue(settings, &monitor, &sender, "");
        ASSERT_TRUE(queue.startWorker());
        enqueueIds(queue, 3);
        ASSERT_TRUE(sender.waitForBatches(1));
        const int64_t askedBefore = monitor.asked;
        std::this_thread::sleep_for(milliseconds(200));
        // At most one pass per millisecond, with room for a slow clock.
        EXPECT_LT(monitor.asked - askedBefore, 400);
        const auto stopping = Clock::now();
        queue.stopWorker();
        EXPECT_LT(elapsedMs(stopping), 2000);
    }
}

#if defined(__GLIBC__)
TEST(QueueManagerStop, FailedThreadCreationLeavesTheQueueUsable) {
    ScriptedSender sender;
    QueueManager queue(quickSettings(false), nullptr, &sender, "");
    pthread_attr_t saved;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    // A stack no system can map makes the next thread creation fail.
    pthread_attr_setstacksize(&huge, size_t{1} << 60);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    const bool started = queue.startWorker();
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);

    EXPECT_FALSE(started);
    EXPECT_FALSE(queue.isRunning());
    enqueueIds(queue, 3);
    ASSERT_TRUE(queue.startWorker());
    ASSERT_TRUE(sender.waitForBatches(1));
}
#endif
