// Counts the events that the local tracking service accepts, as they arrive.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace Corvex::Tracking::Testing {
class TrackingService;
}

namespace Corvex::Tracking::Bench {

class DeliveredEvents {
public:
    // Listens to the service from now on; events named `name` are counted
    // apart from the total.
    DeliveredEvents(Testing::TrackingService& service, const std::string& name);
    ~DeliveredEvents();
    DeliveredEvents(const DeliveredEvents&) = delete;
    DeliveredEvents& operator=(const DeliveredEvents&) = delete;

    int64_t named() const { return namedCount.load(); }
    int64_t total() const { return totalCount.load(); }
    int64_t requests() const { return requestCount.load(); }

private:
    Testing::TrackingService& service;
    std::atomic<int64_t> namedCount{0};
    std::atomic<int64_t> totalCount{0};
    std::atomic<int64_t> requestCount{0};
};

}  // namespace Corvex::Tracking::Bench
