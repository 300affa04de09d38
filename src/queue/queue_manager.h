// The events that wait for delivery, in memory and in the queue file, the
// pool of spare event records, and the worker thread that sends them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace Corvex::Tracking {

struct InitializationData;
class QueueManagerMonitor;
class Sender;
class TrackingEvent;

class QueueManager {
public:
    static constexpr int32_t MAX_PENDING = 1000;
    static constexpr int32_t BATCH_TEXT_BUDGET = 250000;

    // Copies the flush settings; with saving on, opens the queue file in the
    // folder and loads the events an earlier run left.
    QueueManager(const InitializationData& settings, QueueManagerMonitor* monitor, Sender* sender,
                 const std::string& saveFolder);
    // Stops the worker if it still runs.
    ~QueueManager();
    QueueManager(const QueueManager&) = delete;
    QueueManager& operator=(const QueueManager&) = delete;

    // A spare record from the pool, or a new one.
    std::unique_ptr<TrackingEvent> acquireEvent();
    // Queues the event (and saves it, with saving on); false when 1000 events
    // already wait or the event cannot be serialised. Never throws.
    bool enqueue(std::unique_ptr<TrackingEvent> event);
    // Removes the oldest entries from memory and file into the pool.
    void retireOldest(int32_t count);

    // Starts the worker unless it runs; false when the thread cannot be made.
    bool startWorker();
    // Stops the worker and waits for it: within one HTTP attempt on the wire.
    void stopWorker();
    bool isRunning() const;

    int32_t pendingCount() const;

private:
    // (fields: the implementer's choice)
};

}  // namespace Corvex::Tracking
