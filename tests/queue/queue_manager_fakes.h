// Test doubles and helpers for the queue manager tests: a scripted sender, a
// switchable monitor, events of chosen sizes and hand-made queue file images.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/initialization_data.h"
#include "delivery/sender.h"
#include "delivery/stop_signal.h"
#include "event_queue_file_test_util.h"
#include "events/tracking_event.h"
#include "queue/queue_manager.h"
#include "queue/queue_manager_monitor.h"

namespace Corvex::Tracking::Testing {

// Records every batch (the events' eIds and text lengths) and ends each send
// with the next scripted result (Succeeded once the script runs out). A send
// may first wait on the stop signal, as the real sender's back-off does; a
// stop during that wait ends it Failed.
class ScriptedSender : public Sender {
public:
    struct Batch {
        std::vector<std::string> ids;
        std::vector<size_t> textLengths;
        int32_t result = Idle;
    };

    void script(std::deque<int32_t> results) {
        std::lock_guard<std::mutex> lock(mutex);
        scripted = std::move(results);
    }
    void setBackOff(int64_t milliseconds) { backOffMs = milliseconds; }

    void send(const std::vector<const TrackingEvent*>& batch, const StopSignal& stop) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++started;
            changed.notify_all();
        }
        Batch seen;
        for (const TrackingEvent* event : batch) {
            seen.ids.push_back(event->eId);
            seen.textLengths.push_back(event->toJsonText().size());
        }
        const bool waitedOut = stop.waitFor(backOffMs);
        std::lock_guard<std::mutex> lock(mutex);
        int32_t result = Succeeded;
        if (!scripted.empty()) {
            result = scripted.front();
            scripted.pop_front();
        }
        seen.result = waitedOut ? result : Failed;
        status = seen.result;
        batches.push_back(std::move(seen));
        changed.notify_all();
    }

    // Waits until at least n sends have returned; false on time-out.
    bool waitForBatches(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return batches.size() >= n; });
    }
    bool waitForSendStart() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return started > 0; });
    }
    // Waits until the sends carried at least n events in all.
    bool waitForEvents(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            size_t events = 0;
            for (const Batch& batch : batches) events += batch.ids.size();
            return events >= n;
        });
    }
    std::vector<Batch> sent() {
        std::lock_guard<std::mutex> lock(mutex);
        return batches;
    }
    std::vector<size_t> batchSizes() {
        std::vector<size_t> sizes;
        for (const Batch& batch : sent()) sizes.push_back(batch.ids.size());
        return sizes;
    }
    // The ids of the batches that ended Succeeded, in order.
    std::vector<std::string> deliveredIds() {
        std::vector<std::string> ids;
        for (const Batch& batch : sent()) {
            if (batch.result == Succeeded)
                ids.insert(ids.end(), batch.ids.begin(), batch.ids.end());
        }
        return ids;
    }
    std::vector<std::string> allIds() {
        std::vector<std::string> ids;
        for (const Batch& batch : sent()) ids.insert(ids.end(), batch.ids.begin(), batch.ids.end());
        return ids;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int32_t> scripted;
    std::vector<Batch> batches;
    int started = 0;
    std::atomic<int64_t> backOffMs{0};
};

class SwitchMonitor : public QueueManagerMonitor {
public:
    std::atomic<bool> allowed{true};
    std::atomic<int64_t> asked{0};

    bool canSend() override {
        ++asked;
        return allowed;
    }
};

inline InitializationData quickSettings(bool save = true) {
    InitializationData settings;
    settings.EnableSave = save;
    settings.QueueCheckInterval = 5;
    settings.SendDelay = 0;
    return settings;
}

// An event with the given id whose JSON text is padded to at least
// `textLength` bytes (exactly, when it is above the unpadded length).
inline void fillEvent(TrackingEvent& event, const std::string& eId, size_t textLength = 0) {
    event.eId = eId;
    event.eventName = "vxsdk_custom";
    event.id = "session";
    event.timeInMs = 1700000000000;
    event.cfgId = "cfg";
    event.appVersion = "1.0";
    event.setStringValue("");
    const size_t bare = event.toJsonText().size();
    if (textLength > bare) event.setStringValue(std::string(textLength - bare, 'x'));
}

inline bool enqueueNew(QueueManager& queue, const std::string& eId, size_t textLength = 0) {
    auto event = queue.acquireEvent();
    fillEvent(*event, eId, textLength);
    return queue.enqueue(std::move(event));
}

inline std::string eventText(const std::string& eId) {
    TrackingEvent event;
    fillEvent(event, eId);
    return event.toJsonText();
}

inline std::vector<std::string> idsOf(const std::vector<std::string>& texts) {
    std::vector<std::string> ids;
    for (const std::string& text : texts) {
        TrackingEvent event;
        event.fromJsonText(text.c_str());
        ids.push_back(event.eId);
    }
    return ids;
}

// A queue file image in the documented format: a ring of the given length
// holding the texts one after another from offset 16, and a header that
// describes them.
inline std::string imageOf(const std::vector<std::string>& texts, int64_t ringLength = 4096) {
    std::string image(static_cast<size_t>(ringLength), '\0');
    int64_t position = 16;
    int64_t last = 0;
    for (const std::string& text : texts) {
        const std::string entry = entryBytes(text);
        image.replace(static_cast<size_t>(position), entry.size(), entry);
        last = position;
        position += static_cast<int64_t>(entry.size());
    }
    putHeader(image, ringLength, static_cast<int64_t>(texts.size()), texts.empty() ? 0 : 16, last);
    return image;
}

// The ids of the events the file at the path holds; empty when it does not
// load.
inline std::vector<std::string> savedIds(const std::string& path) {
    return idsOf(loadTexts(path).value_or(std::vector<std::string>{}));
}

}  // namespace Corvex::Tracking::Testing
