#include "queue/queue_manager.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "core/initialization_data.h"
#include "delivery/sender.h"
#include "events/tracking_event.h"
#include "queue/event_queue_file.h"
#include "queue/queue_manager_monitor.h"

namespace Corvex::Tracking {

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
    if (queueFile) loadSavedEntries();
}

QueueManager::~QueueManager() {
    stopWorker();
}

void QueueManager::openQueueFile(const std::string& saveFolder) {
    const std::string path = saveFolder + Platform::PATH_SEPARATOR + ".event_queue";
    // A second queue on the same folder, in this process or another, would
    // interleave its writes with ours; whoever holds the lock owns the file.
    if (!queueLock.tryLock(path + ".lock")) return;
    auto file = std::make_unique<EventQueueFile>(path);
    switch (file->open()) {
        case EventQueueFile::OpenResult::Ready: break;
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
    bool droppedEntry = false;
    const auto result = queueFile->readEntries([&](std::string&& text) {
        std::unique_ptr<TrackingEvent> event = acquireEvent();
        // The parser reads up to a NUL, so an entry holding one would load as
        // a prefix of itself.
        bool parsed = text.find('\0') == std::string::npos;
        if (parsed) {
            try {
                event->fromJsonText(text.c_str());
            } catch (const nlohmann::json::exception&) {
                parsed = false;
            }
        }
        if (!parsed) {
            droppedEntry = true;
            recycle(std::move(event));
            return;
        }
        pending.push_back({std::move(event), std::move(text)});
    });

    if (result == EventQueueFile::ReadResult::Corrupt) {
        // Nothing read from a corrupt file is trusted, not even the entries
        // before the fault.
        for (PendingEntry& entry : pending) recycle(std::move(entry.event));
        pending.clear();
        fileInStep = queueFile->recreate();
        return;
    }

    count = static_cast<int32_t>(pending.size());
    // The file still holds the unparsable entries; the first file operation
    // below rebuilds it from the good ones.
    fileInStep = !droppedEntry;
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
            return event;
        }
    }
    return std::make_unique<TrackingEvent>();
}

void QueueManager::recycle(std::unique_ptr<TrackingEvent> event) {
    std::lock_guard<std::mutex> lock(poolMutex);
    eventPool.push_back(std::move(event));
}

bool QueueManager::enqueue(std::unique_ptr<TrackingEvent> event) {
    if (!event) return false;
    if (count >= MAX_PENDING) {
        recycle(std::move(event));
        return false;
    }
    std::string text;
    try {
        text = event->toJsonText();
    } catch (const nlohmann::json::exception&) {
        recycle(std::move(event));  // text that is not valid UTF-8
        return false;
    }
    // The dump's buffer grows by doubling; the queued text lives until sent.
    text.shrink_to_fit();

    std::lock_guard<std::mutex> lock(queueMutex);
    if (count >= MAX_PENDING) {  // another thread filled the queue meanwhile
        recycle(std::move(event));
        return false;
    }
    pending.push_back({std::move(event), std::move(text)});
    ++count;
    if (queueFile) {
        const std::string& saved = pending.back().text;
        fileInStep = fileInStep
                         ? queueFile->append(saved.data(), static_cast<int32_t>(saved.size()))
                         : rebuildFile();
    }
    return true;
}

void QueueManager::retireOldest(int32_t retired) {
    std::lock_guard<std::mutex> lock(queueMutex);
    retired = std::clamp<int32_t>(retired, 0, count);
    if (retired == 0) return;
    {
        std::lock_guard<std::mutex> poolLock(poolMutex);
        for (int32_t i = 0; i < retired; ++i) {
            eventPool.push_back(std::move(pending.front().event));
            pending.pop_front();
        }
    }
    count -= retired;
    // A file out of step may lack some of these entries, or hold others
    // after them; removing from its front could erase unsent events.
    if (queueFile) fileInStep = fileInStep ? queueFile->removeFirst(retired) : rebuildFile();
}

bool QueueManager::rebuildFile() {
    std::vector<std::string_view> texts;
    texts.reserve(pending.size());
    for (const PendingEntry& entry : pending) texts.emplace_back(entry.text);
    return queueFile->rewrite(texts);
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
    std::lock_guard<std::mutex> lock(controlMutex);
    if (!workerThread.joinable()) return;
    running = false;
    // Ends the pause and the sender's back-off waits at once.
    stopSignal.raise();
    workerThread.join();
}

void QueueManager::workerLoop() {
    nextSendTime = Platform::nowMs() + sendDelay;
    while (running) {
        if (!batch.empty()) settleLastSend();
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
}

void QueueManager::formBatch() {
    batch.clear();
    std::lock_guard<std::mutex> lock(queueMutex);
    int64_t total = 0;
    for (const PendingEntry& entry : pending) {
        if (static_cast<int32_t>(batch.size()) >= flushSendSize) break;
        total += static_cast<int64_t>(entry.text.size());
        // An entry above the budget on its own still goes out, alone, so
        // that it cannot hold up the queue behind it.
        if (total > BATCH_TEXT_BUDGET && !batch.empty()) break;
        batch.push_back(entry.event.get());
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
