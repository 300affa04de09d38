// A tracking manager made through the C interface for one benchmark, with its
// save folder, and the queue operations the benchmarks need between rounds.
#pragma once

#include <cstdint>
#include <string>

#include "corvex/tracking.h"

namespace Corvex::Tracking::Testing {
class TrackingService;
}

namespace Corvex::Tracking::Bench {

struct ManagerSetup {
    std::string saveFolder;
    // Without delivery the user id stays empty, so the worker runs but never
    // sends and the queue keeps what the calls put in it.
    bool deliver = false;
    // Sends to this service through its proxy, trusting its authority.
    const Testing::TrackingService* service = nullptr;
    // 0 keeps the default.
    int32_t queueCheckInterval = 0;
    int32_t flushSendSize = 0;
    bool start = true;
};

class BenchManager {
public:
    explicit BenchManager(const ManagerSetup& setup);
    ~BenchManager();
    BenchManager(const BenchManager&) = delete;
    BenchManager& operator=(const BenchManager&) = delete;

    ::TrackingManager* handle() const { return manager; }
    int32_t pending() const;
    // Retires every waiting event into the pool, as a delivered batch does.
    void drain();
    // Waits until the worker has delivered every waiting event.
    bool waitUntilEmpty(int64_t timeoutMs) const;

private:
    ::TrackingManager* manager = nullptr;
};

}  // namespace Corvex::Tracking::Bench
