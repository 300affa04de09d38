#include "delivered_events.h"

#include <string_view>

#include "support/tracking_service.h"

namespace Corvex::Tracking::Bench {

namespace {

int64_t occurrences(std::string_view text, std::string_view pattern) {
    int64_t count = 0;
    for (size_t at = text.find(pattern); at != std::string_view::npos;
         at = text.find(pattern, at + pattern.size())) {
        ++count;
    }
    return count;
}

}  // namespace

DeliveredEvents::DeliveredEvents(Testing::TrackingService& service, const std::string& name)
    : service(service) {
    // The service answers every request with 200 (its default script). Every
    // event object has exactly one "eId" member; the body's own members never
    // use that key.
    service.setRequestListener(
        [this, namePattern = "\"eventName\":\"" + name + "\""](const Testing::RecordedRequest& r) {
            namedCount += occurrences(r.body, namePattern);
            totalCount += occurrences(r.body, "\"eId\":\"");
            ++requestCount;
        });
}

DeliveredEvents::~DeliveredEvents() {
    service.setRequestListener(nullptr);
}

}  // namespace Corvex::Tracking::Bench
