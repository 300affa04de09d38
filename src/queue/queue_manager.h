// The events that wait for delivery, in memory and in the queue file, the
// pool of spare event records, and the worker thread that sends them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "delivery/stop_signal.h"
#include "platform/platform.h"

namespace Corvex::Tracking {

struct InitializationData;
class QueueManagerMonitor;
class EventQueueFile;
class Sender;
class TrackingEvent;

class QueueManager {
public:
    static constexpr int32_t MAX_PENDING = 1000;
    static constexpr int32_t BATCH_TEXT_BUDGET = 250000;
    // A record whose text buffer grew beyond this goes back to the pool
    // emptied; smaller ones keep their buffers, to be refilled in place.
    static constexpr size_t POOLED_TEXT_CAPACITY = 4096;
    // How long appends go on without asking whether the file on disk is still
    // the one they write to; the worker's passes and retirements always ask.
    static constexpr int64_t DISK_CHECK_INTERVAL_MS = 5;
    // How long the sync thread gathers changes to the queue file before it
    // syncs them: a change is durable within this plus one sync, well inside
    // a second on a sound disk, and a burst of Track calls costs one sync.
    static constexpr int64_t SYNC_DELAY_MS = 250;

    // Copies the flush settings; with saving on, opens the queue file in the
    // folder and loads the events an earlier run left.
    QueueManager(const InitializationData& settings, QueueManagerMonitor* monitor, Sender* sender,
                 const std::string& saveFolder);
    // Stops the worker if it still runs.
    ~QueueManager();
    QueueManager(const QueueManager&) = delete;
    QueueManager& operator=(const QueueManager&) = delete;

    // A spare record from the pool, or a new one; its queuedText is empty.
    std::unique_ptr<TrackingEvent> acquireEvent();
    // Queues the event (and saves it, with saving on); false when 1000 events
    // already wait or the event cannot be serialised. Never throws.
    bool enqueue(std::unique_ptr<TrackingEvent> event);
    // Removes the oldest entries from memory and file into the pool.
    void retireOldest(int32_t retired);

    // Starts the worker unless it runs; false when the thread cannot be made.
    bool startWorker();
    // Stops the worker and waits for it (within one HTTP attempt on the
    // wire), then syncs the queue file.
    void stopWorker();
    bool isRunning() const;

    int32_t pendingCount() const;

private:
    void openQueueFile(const std::string& saveFolder);
    void loadSavedEntries();
    void recycle(std::unique_ptr<TrackingEvent> event);
    // Caller holds queueMutex. Brings the file back in step with `pending`
    // by writing it anew from the pending texts.
    bool rebuildFile();
    // Caller holds queueMutex. True when the file can be changed in place: no
    // file operation failed since the last rebuild, and no other program
    // deleted the file or cut it short meanwhile. The disk is asked at most
    // once per DISK_CHECK_INTERVAL_MS unless `now`: an append then costs its
    // two writes only.
    bool fileUsable(bool now);
    // Rebuilds the file when it is not usable: a file deleted or cut short
    // comes back, and a rebuild that failed (a full disk) is tried again,
    // even while nothing is tracked or sent.
    void repairFile();

    // Caller holds queueMutex: wakes the sync thread after a change.
    void scheduleSync();
    // Makes the queue file's changes so far durable. queueMutex is held only
    // to start and to finish the sync, never while the disk works, so Track
    // calls go on meanwhile.
    void syncFile();
    void syncLoop();
    void stopSyncThread();

    void workerLoop();
    void formBatch();
    // Acts on the result of the last send: retires a delivered batch, keeps
    // a failed one at the front, and leaves the sender Idle.
    void settleLastSend();

    std::thread workerThread;
    std::mutex controlMutex;  // serialises startWorker and stopWorker
    std::mutex queueMutex;    // pending, count updates, the queue file, fileInStep
    std::mutex poolMutex;     // eventPool; taken after queueMutex when both are needed
    std::mutex syncMutex;     // one sync at a time; taken before queueMutex
    std::atomic<bool> running{false};
    StopSignal stopSignal;

    QueueManagerMonitor* const monitor;
    Sender* const sender;
    const int32_t flushQueueSize;
    const int32_t flushSendSize;
    const int64_t queueCheckInterval;  // at least 1 ms
    const int64_t sendDelay;

    // Declared before the file so that the file closes before the lock goes.
    Platform::FileLock queueLock;
    // Null when saving is off, the lock is held elsewhere or the file cannot
    // be opened: the queue then lives in memory only.
    std::unique_ptr<EventQueueFile> queueFile;
    // False after a failed file operation until a rebuild succeeds.
    bool fileInStep = true;
    // Coarse monotonic milliseconds of the last check of the file on disk.
    int64_t diskCheckedAtMs = 0;

    // The sync thread runs while the queue file is open, from construction
    // to destruction: before Start, during sends and their back-off waits,
    // and after Stop. Its flags are guarded by queueMutex.
    std::thread syncThread;
    std::condition_variable syncWanted;
    bool syncScheduled = false;
    bool syncStopping = false;

    // Each queued event carries its JSON text in queuedText: the text its file
    // entry holds (for events loaded from the file, the text written anew from
    // the loaded fields), which counts against the batch budget, file rebuilds
    // write and the request body carries.
    std::deque<std::unique_ptr<TrackingEvent>> pending;
    std::atomic<int32_t> count{0};
    std::vector<std::unique_ptr<TrackingEvent>> eventPool;

    // Worker thread only: the events of the last send, the first entries of
    // `pending`, and the time from which a short queue is flushed.
    std::vector<const TrackingEvent*> batch;
    int64_t nextSendTime = 0;
};

}  // namespace Corvex::Tracking
