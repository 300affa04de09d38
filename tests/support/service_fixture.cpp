#include "support/service_fixture.h"

#include <chrono>
#include <thread>

using nlohmann::json;
using namespace std::chrono_literals;

namespace Corvex::Tracking::Testing {

// Named after the suite, so that a folder left behind tells whose it was.
ServiceFixture::ServiceFixture()
    : folder(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) {}

void ServiceFixture::SetUp() {
    service.start();
}

::TrackingManager* ServiceFixture::createManager(const char* user, const char* password,
                                                 ::InitializationData* config) const {
    ::TrackingManager* manager = TrackingManager_Create(user, password, config);
    InitializationData_Destroy(config);
    TrackingManager_SetSendProxy(manager, service.proxyUrl().c_str());
    TrackingManager_SetSendCertificateAuthority(manager, service.caFile().c_str());
    return manager;
}

std::vector<json> ServiceFixture::deliveredEvents(size_t fromRequest) const {
    std::vector<json> events;
    const auto requests = service.requests();
    for (size_t r = fromRequest; r < requests.size(); ++r) {
        const json body = json::parse(requests[r].body);
        for (const json& event : body["subMessages"]) events.push_back(event);
    }
    return events;
}

std::vector<json> ServiceFixture::waitForEvents(size_t count, size_t fromRequest) const {
    std::vector<json> events;
    waitUntil([&] {
        events = deliveredEvents(fromRequest);
        return events.size() >= count;
    });
    return events;
}

bool ServiceFixture::waitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace Corvex::Tracking::Testing
