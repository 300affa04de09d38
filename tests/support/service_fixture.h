// The fixture of tests whose managers send to the local tracking service: the
// service, started for each test, a save folder that the library makes, and
// the events that arrived.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

#include "corvex/tracking.h"
#include "support/temp_folder.h"
#include "support/tracking_service.h"

namespace Corvex::Tracking::Testing {

class ServiceFixture : public ::testing::Test {
protected:
    ServiceFixture();
    void SetUp() override;

    // A manager made through the C interface from config, which it destroys,
    // sending to the service through its proxy and trusting its authority.
    ::TrackingManager* createManager(const char* user, const char* password,
                                     ::InitializationData* config) const;

    // The events of the requests from the fromRequest-th on, in arrival order.
    std::vector<nlohmann::json> deliveredEvents(size_t fromRequest = 0) const;
    // Those events once there are count of them, or after 30 s.
    std::vector<nlohmann::json> waitForEvents(size_t count, size_t fromRequest = 0) const;
    // Checks done every 10 ms until it holds; false when it still does not
    // after 30 s.
    static bool waitUntil(const std::function<bool()>& done);

    TempFolder folder;
    TrackingService service;
};

}  // namespace Corvex::Tracking::Testing
