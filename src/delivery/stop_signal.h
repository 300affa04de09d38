// A flag that interrupts waits: the worker's pause and the sender's back-off
// sleep on it, and stopping the queue raises it so both end at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Corvex::Tracking {

class StopSignal {
public:
    void raise() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            raised = true;
        }
        wakeup.notify_all();
    }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex);
        raised = false;
    }

    // Waits up to the given milliseconds (0 or less does not wait). Returns
    // false when the signal was raised before or during the wait.
    bool waitFor(int64_t milliseconds) const {
        std::unique_lock<std::mutex> lock(mutex);
        if (milliseconds > 0) {
            wakeup.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return raised; });
        }
        return !raised;
    }

private:
    mutable std::mutex mutex;
    mutable std::condition_variable wakeup;
    bool raised = false;
};

}  // namespace Corvex::Tracking
