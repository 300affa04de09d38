// The road from the queue to the network.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace Corvex::Tracking {

class StopSignal;
class TrackingEvent;

enum SendStatus : int32_t { Idle = 0, Sending = 1, Succeeded = 2, Failed = 3 };

class Sender {
public:
    // Written by the worker (Sending, Idle) and by send (Succeeded, Failed).
    std::atomic<int32_t> status{Idle};

    // Delivers the batch, oldest first, in one request with retries, and
    // returns with status Succeeded or Failed. Back-off waits end early when
    // stop is raised; the send then ends Failed. Never throws.
    virtual void send(const std::vector<const TrackingEvent*>& batch, const StopSignal& stop) = 0;

protected:
    ~Sender() = default;
};

}  // namespace Corvex::Tracking
