// The properties file is written outside the lock that Track calls and the
// worker take: a stalled disk holds up only the call that set the id.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/initialization_data.h"
#include "core/tracking_manager.h"
#include "delivery/http_sender.h"
#include "platform/platform.h"
#include "support/service_fixture.h"

using namespace std::chrono_literals;
using nlohmann::json;

// In the library's namespace: its TrackingManager, not the C interface's.
namespace Corvex::Tracking {

namespace {

// Holds every write of the properties file until released.
class HeldWriter {
public:
    Storage::Writer writer() {
        return [this](const std::string& path, const std::string& contents) {
            std::unique_lock<std::mutex> lock(mutex);
            if (holding) {
                ++waiting;
                changed.notify_all();
                changed.wait(lock, [this] { return !holding; });
            }
            return Platform::replaceFileContents(path, contents);
        };
    }
    void hold() {
        std::lock_guard<std::mutex> lock(mutex);
        holding = true;
    }
    bool waitForAWaitingWrite() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 30s, [this] { return waiting > 0; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        holding = false;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    int waiting = 0;
};

using TrackingManagerStorage = Testing::ServiceFixture;

}  // namespace

TEST_F(TrackingManagerStorage, TrackCallsAndDeliveryGoOnWhileTheIdIsWritten) {
    InitializationData settings;
    settings.SavePath = folder.path();
    settings.UserId = "player-1";
    settings.ConfigId = "cfg";
    settings.QueueCheckInterval = 10;
    settings.SendDelay = 20;
    HeldWriter held;
    TrackingManager manager("u", "p", &settings, nullptr, held.writer());
    manager.setSendProxy(service.proxyUrl());
    manager.setSendCertificateAuthority(service.caFile());
    manager.start();

    held.hold();
    std::thread setter([&manager] { manager.setUserId("player-2"); });
    const bool writeHeld = held.waitForAWaitingWrite();
    // Were the call to wait for the held write, this would hang: bound it, and
    // release the write before anything is asserted.
    auto tracked =
        std::async(std::launch::async, [&manager] { manager.trackIntValue("after_set", 1); });
    const bool trackReturned = tracked.wait_for(30s) == std::future_status::ready;
    std::string deliveredUserId;
    if (trackReturned) {
        waitUntil([&] {
            for (const auto& request : service.requests()) {
                const json body = json::parse(request.body);
                for (const json& event : body["subMessages"]) {
                    if (event["eventName"] == "after_set") deliveredUserId = body["vxUid"];
                }
            }
            return !deliveredUserId.empty();
        });
    }
    held.release();
    setter.join();
    EXPECT_TRUE(writeHeld);
    EXPECT_TRUE(trackReturned);
    EXPECT_EQ(deliveredUserId, "player-2");

    manager.stop();
    std::string stored;
    ASSERT_TRUE(Platform::readWholeFile(folder.file(".properties"), stored));
    EXPECT_EQ(stored, "{\"userId\":\"player-2\"}\n");
}

// Ids set from several threads at once queue up for the file; whatever order
// they get it in, the file ends with the id set last.
TEST_F(TrackingManagerStorage, OverlappingCallsLeaveTheLastIdInTheFile) {
    InitializationData settings;
    settings.SavePath = folder.path();
    settings.UserId = "player-0";
    TrackingManager manager("u", "p", &settings);
    for (int round = 1; round <= 10; ++round) {
        std::vector<std::thread> setters;
        for (int t = 0; t < 8; ++t) {
            setters.emplace_back([&manager, t, round] {
                for (int i = 0; i < 20; ++i) {
                    manager.setUserId(std::to_string(round) + "-" + std::to_string(t) + "-" +
                                      std::to_string(i));
                }
            });
        }
        for (std::thread& setter : setters) setter.join();
        std::string stored;
        ASSERT_TRUE(Platform::readWholeFile(folder.file(".properties"), stored));
        EXPECT_EQ(stored, "{\"userId\":\"" + manager.getUserId() + "\"}\n") << round;
    }
}

}  // namespace Corvex::Tracking
