#include "queue/queue_manager.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string_view>

#include "base/initialization_data.h"
#include "delivery/sender.h"
#include "events/tracking_event.h"
#include "queue/event_queue_file.h"
#include "queue/queue_manager_monitor.h"

namespace Corvex::Tracking {

namespace {

// Keeps a queued text's buffer close to its size. A record refilled with a
// text of about the same length reuses the buffer without allocating, and a
// waiting event does not hold the doubled buffer that growing it left.
void trimQueuedText(std::string& text) {
    const size_t spare = text.size() / 8 + 16;
    if (text.capacity() <= text.size() + 2 * spare) return;
    std::string trimmed;
    trimmed.reserve(text.size() + spare);
    trimmed.assign(text);
    text.swap(trimmed);
}

// Pooled records live as long as the handle: one that carried a large event
// gives its memory back rather than keep it for the next, likely small, one.
void emptyIfLarge(TrackingEvent& event) {
    if (event.queuedText.capacity() > QueueManager::POOLED_TEXT_CAPACITY) event.releaseBuffers();
}

}  // namespace

QueueManager::QueueManager(const InitializationData& settings, QueueManagerMonitor* monitor,
                           Sender* sender, const std::string& saveFolder)
    : monitor(monitor),
      sender(sender),
      flushQueueSize(settings.FlushQueueSize),
      flushSendSize(settings.FlushSendSize),
      // A pause of at least 1 ms keeps the worker from spinning; negative
      // settings would otherwise read as an almost endless unsigned wait.
      queueCheckInterval(std::max<int64_t>(1, settings.QueueCheckInterval)),
      sendDelay(settings.SendDelay) {
    if (!settings.EnableSave) return;
    openQueueFile(saveFolder);
    if (!queueFile) return;
    loadSavedEntries();
    try {
        syncThread = std::thread(&QueueManager::syncLoop, this);
    } catch (const std::exception&) {
        // Without the thread the file is synced by Stop and destruction only.
    }
}

QueueManager::~QueueManager() {
    stopWorker();
    stopSyncThread();
    repairFile();  // events tracked while no worker ran
    syncFile();
}

void QueueManager::openQueueFile(const std::string& saveFolder) {
    const std::string path = saveFolder + Platform::PATH_SEPARATOR + ".event_queue";
    // A second queue on the same folder, in this process or another, would
    // interleave its writes with ours; whoever holds the lock owns the file.
    if (!queueLock.tryLock(path + ".lock")) return;
    auto file = std::make_unique<EventQueueFile>(path);
    switch (file->open()) {
        case EventQueueFile::OpenResult::Ready:
        case EventQueueFile::OpenResult::Damaged: break;
        case EventQueueFile::OpenResult::Corrupt: fileInStep = file->recreate(); break;
        case EventQueueFile::OpenResult::Unavailable:
            // Left alone: it may hold another run's events that a later
            // process can still read.
            queueLock.release();
            return;
    }
    queueFile = std::move(file);
}

void QueueManager::loadSavedEntries() {
    bool dropped = false;
    // A damaged file gives the sound entries before the break; they are kept
    // and the file is written anew from them.
    const auto result = queueFile->readEntries([&](std::string&& text) {
        std::unique_ptr<TrackingEvent> event = acquireEvent();
        if (!event->restoreFromSavedText(text)) {
            dropped = true;
            recycle(std::move(event));
            return;
        }
        trimQueuedText(event->queuedText);
        pending.push_back(std::move(event));
    });
    count = static_cast<int32_t>(pending.size());
    fileInStep =
        fileInStep && result == EventQueueFile::ReadResult::Ok && !dropped && queueFile->isReady();
    // Without the file in step, the first file operation below rebuilds it.
    const int32_t excess = count - MAX_PENDING;
    if (excess > 0) {
        retireOldest(excess);
    } else if (!fileInStep) {
        std::lock_guard<std::mutex> lock(queueMutex);
        fileInStep = rebuildFile();
    }
}

std::unique_ptr<TrackingEvent> QueueManager::acquireEvent() {
    {
        std::lock_guard<std::mutex> lock(poolMutex);
        if (!eventPool.empty()) {
            std::unique_ptr<TrackingEvent> event = std::move(eventPool.back());
            eventPool.pop_back();
            event->queuedText.clear();  // keeps its buffer for the next text
            return event;
        }
    }
    return std::make_unique<TrackingEvent>();
}

void QueueManager::recycle(std::unique_ptr<TrackingEvent> event) {
    emptyIfLarge(*event);
    std::lock_guard<std::mutex> lock(poolMutex);
    eventPool.push_back(std::move(event));
}

bool QueueManager::enqueue(std::unique_ptr<TrackingEvent> event) {
    if (!event) return false;
    if (count >= MAX_PENDING) {
        recycle(std::move(event));
        return false;
    }
    // Written into the record's own buffer, which a recycled record brings
    // along, so that a warm pool serialises without allocating.
    std::string& text = event->queuedText;
    text.clear();
    try {
        event->appendJsonText(text);
    } catch (const nlohmann::json::exception&) {
        text.clear();
        recycle(std::move(event));  // text that is not valid UTF-8
        return false;
    }
    trimQueuedText(text);

    std::lock_guard<std::mutex> lock(queueMutex);
    if (count >= MAX_PENDING) {  // another thread filled the queue meanwhile
        recycle(std::move(event));
        return false;
    }
    pending.push_back(std::move(event));
    ++count;
    // A failed append is mended at once: the file is written anew from memory.
    if (queueFile) {
        fileInStep = (fileUsable(false) &&
                      queueFile->append(text.data(), static_cast<int32_t>(text.size()))) ||
                     rebuildFile();
        scheduleSync();
    }
    return true;
}

void QueueManager::retireOldest(int32_t retired) {
    std::vector<std::unique_ptr<TrackingEvent>> records;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        retired = std::clamp<int32_t>(retired, 0, count);
        if (retired == 0) return;
        records.reserve(static_cast<size_t>(retired));
        for (int32_t i = 0; i < retired; ++i) {
            records.push_back(std::move(pending.front()));
            pending.pop_front();
        }
        count -= retired;
        // A file out of step may lack some of these entries, or hold others
        // after them; removing from its front could erase unsent events.
        if (queueFile) {
            fileInStep = fileUsable(true) ? queueFile->removeFirst(retired) : rebuildFile();
            scheduleSync();
        }
    }
    // Emptied outside the locks that Track calls wait for, then pooled.
    for (auto& record : records) emptyIfLarge(*record);
    std::lock_guard<std::mutex> poolLock(poolMutex);
    for (auto& record : records) eventPool.push_back(std::move(record));
}

bool QueueManager::rebuildFile() {
    std::vector<std::string_view> texts;
    texts.reserve(pending.size());
    for (const auto& event : pending) texts.emplace_back(event->queuedText);
    if (!queueFile->rewrite(texts)) return false;
    diskCheckedAtMs = Platform::coarseMonotonicMs();
    return true;
}

bool QueueManager::fileUsable(bool now) {
    if (!fileInStep) return false;
    const int64_t time = Platform::coarseMonotonicMs();
    if (!now && time - diskCheckedAtMs < DISK_CHECK_INTERVAL_MS) return true;
    diskCheckedAtMs = time;
    return queueFile->matchesDisk();
}

void QueueManager::repairFile() {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (queueFile && !fileUsable(true)) fileInStep = rebuildFile();
}

void QueueManager::scheduleSync() {
    if (syncScheduled || !queueFile->needsSync()) return;
    syncScheduled = true;
    syncWanted.notify_one();
}

void QueueManager::syncFile() {
    std::lock_guard<std::mutex> syncLock(syncMutex);
    EventQueueFile::PendingSync sync;
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (!queueFile) return;
        sync = queueFile->beginSync();
    }
    if (!sync.handle) return;
    const bool synced = sync.handle->sync();
    std::lock_guard<std::mutex> lock(queueMutex);
    queueFile->finishSync(sync, synced);
}

void QueueManager::syncLoop() {
    std::unique_lock<std::mutex> lock(queueMutex);
    while (!syncStopping) {
        syncWanted.wait(lock, [this] { return syncStopping || syncScheduled; });
        // Gathers the changes of a short while into one sync.
        syncWanted.wait_for(lock, std::chrono::milliseconds(SYNC_DELAY_MS),
                            [this] { return syncStopping; });
        if (syncStopping) break;
        syncScheduled = false;
        lock.unlock();
        syncFile();
        lock.lock();
        // Retired bytes zeroed by that sync's end need one more, and a failed
        // sync is tried again.
        scheduleSync();
    }
}

void QueueManager::stopSyncThread() {
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        syncStopping = true;
    }
    syncWanted.notify_one();
    if (syncThread.joinable()) syncThread.join();
}

int32_t QueueManager::pendingCount() const {
    return count;
}

bool QueueManager::isRunning() const {
    return running;
}

bool QueueManager::startWorker() {
    std::lock_guard<std::mutex> lock(controlMutex);
    if (running) return true;
    stopSignal.reset();
    running = true;
    try {
        workerThread = std::thread(&QueueManager::workerLoop, this);
    } catch (const std::exception&) {
        running = false;
        return false;
    }
    return true;
}

void QueueManager::stopWorker() {
    {
        std::lock_guard<std::mutex> lock(controlMutex);
        if (workerThread.joinable()) {
            running = false;
            // Ends the pause and the sender's back-off waits at once.
            stopSignal.raise();
            workerThread.join();
        }
    }
    syncFile();
}

void QueueManager::workerLoop() {
    nextSendTime = Platform::nowMs() + sendDelay;
    while (running) {
        if (!batch.empty()) settleLastSend();
        repairFile();
        const int32_t waiting = count;
        const bool allowed = monitor == nullptr || monitor->canSend();
        if (allowed &&
            (waiting >= flushQueueSize || (waiting > 0 && Platform::nowMs() >= nextSendTime))) {
            formBatch();
            if (!batch.empty()) {
                sender->status = Sending;
                sender->send(batch, stopSignal);
            }
        }
        if (!stopSignal.waitFor(queueCheckInterval)) break;
    }
    // The result of a send cut short by the stop, or finished just before
    // it, is settled now, so that a later worker starts from Idle and never
    // sends a delivered batch again.
    if (!batch.empty()) settleLastSend();
    repairFile();
}

void QueueManager::formBatch() {
    batch.clear();
    std::lock_guard<std::mutex> lock(queueMutex);
    int64_t total = 0;
    for (const auto& event : pending) {
        if (static_cast<int32_t>(batch.size()) >= flushSendSize) break;
        total += static_cast<int64_t>(event->queuedText.size());
        // An entry above the budget on its own still goes out, alone, so
        // that it cannot hold up the queue behind it.
        if (total > BATCH_TEXT_BUDGET && !batch.empty()) break;
        batch.push_back(event.get());
        if (total > BATCH_TEXT_BUDGET) break;
    }
}

void QueueManager::settleLastSend() {
    if (sender->status == Succeeded) retireOldest(static_cast<int32_t>(batch.size()));
    sender->status = Idle;
    batch.clear();
    nextSendTime = Platform::nowMs() + sendDelay;
}

}  // namespace Corvex::Tracking
