// A host drives the library through the C interface only, against the local
// tracking service reached through the proxy and certificate exports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "corvex/tracking.h"
#include "platform/platform.h"
#include "support/service_fixture.h"

using Corvex::Tracking::Testing::Reply;
using Corvex::Tracking::Testing::ServiceFixture;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

struct Expected {
    std::string name;
    json value;
};

class EndToEnd : public ServiceFixture {
protected:
    TrackingManager* create(const char* userId = nullptr) {
        InitializationData* config = InitializationData_Create();
        InitializationData_SetSavePath(config, folder.path().c_str());
        InitializationData_SetBundleId(config, "com.example.game");
        InitializationData_SetCountry(config, "D\xC3\xA9");
        InitializationData_SetDeviceModel(config, "Rig");
        InitializationData_SetAppVersion(config, "5.0");
        InitializationData_SetConfigId(config, "cfg-a");
        InitializationData_SetStoreType(config, 3);
        InitializationData_SetQueueCheckInterval(config, 10);
        InitializationData_SetSendDelay(config, 50);
        InitializationData_SetInitialRetryInterval(config, 20);
        if (userId != nullptr) InitializationData_SetUserId(config, userId);
        return createManager("game-key", "p\xC3\xA4ss:word", config);
    }

    std::string userIdOf(TrackingManager* manager) {
        char* text = TrackingManager_GetUserId(manager);
        std::string userId = text;
        std::free(text);
        return userId;
    }
};

}  // namespace

TEST_F(EndToEnd, BodiesAreExactlyTheEventsRebuiltFromTheirIdsAndTimes) {
    TrackingManager* manager = create();
    const std::string userId = userIdOf(manager);
    std::vector<Expected> expected;
    // Tracked before start: queued, then delivered once the worker runs.
    TrackingManager_TrackLevelStart(manager, 4, "r\xC3\xBBins");
    expected.push_back({"vxsdk_level_attempt", {{"label", "r\xC3\xBBins"}, {"level", 4}}});
    TrackingManager_Start(manager);
    expected.push_back({"vxsdk_first_open", json()});  // payload checked separately
    TrackingManager_TrackAdLoad2(manager, "ad", 2, 3);
    expected.push_back(
        {"vxsdk_ad_load",
         {{"ad_unit", "ad"}, {"placement", "right"}, {"placement_type", "rewarded_video"}}});
    TrackingManager_TrackIAPBuyEnd(manager, "pack", 0.99f, 3, "EUR", 1);
    expected.push_back({"vxsdk_iap_success_payment",
                        {{"amount", 3},
                         {"currency", "EUR"},
                         {"pack", "pack"},
                         {"price", double(0.99f)},
                         {"store_type", "microsoft_store"}}});
    TrackingManager_TrackWalletLink(manager, "0xabc");
    expected.push_back({"vxsdk_account_link_wallet", {{"type", "ethereum"}, {"wallet", "0xabc"}}});
    TrackingManager_TrackCryptoPayment3(manager, "p", 2.5f, 1, "", "polygon");
    expected.push_back({"vxsdk_crypto_payment",
                        {{"amount", 1},
                         {"chain", "polygon"},
                         {"currency", "ETH"},
                         {"pack", "p"},
                         {"price", 2.5}}});
    TrackingManager_TrackWithJsonValue(manager, "custom", "{\"z\":[1,{\"b\":2,\"a\":1}]}");
    expected.push_back({"custom", json::parse("{\"z\":[1,{\"a\":1,\"b\":2}]}")});
    TrackingManager_TrackWithIntValue(manager, "int", -7);
    expected.push_back({"int", {{"value", -7}}});
    TrackingManager_Track(manager, "plain");
    expected.push_back({"plain", json()});

    const std::vector<json> delivered = waitForEvents(expected.size());
    TrackingManager_Stop(manager);
    TrackingManager_Destroy(manager);
    ASSERT_EQ(delivered.size(), expected.size());

    // Rebuild every body from the ids and times the events recorded.
    size_t next = 0;
    std::string sessionId;
    for (const auto& request : service.requests()) {
        EXPECT_EQ(request.method, "PUT");
        EXPECT_EQ(request.path, "/tracking/v3/event");
        EXPECT_EQ(request.header("Authorization"),
                  "Basic " + std::string("Z2FtZS1rZXk6cMOkc3M6d29yZA=="));
        const json received = json::parse(request.body);
        json rebuilt = json::object();
        rebuilt["vxUid"] = userId;
        rebuilt["vxSdkVersion"] = "0.0.1-cpp";
        rebuilt["bundleId"] = "com.example.game";
        rebuilt["country"] = "D\xC3\xA9";
        rebuilt["device"] = "Rig";
        rebuilt["platform"] = Corvex::Tracking::Platform::osProductName();
        rebuilt["osVersion"] = Corvex::Tracking::Platform::osVersionText();
        rebuilt["subMessages"] = json::array();
        for (const json& event : received["subMessages"]) {
            const Expected& want = expected.at(next++);
            json object = json::object();
            object["eId"] = event["eId"];
            object["id"] = event["id"];
            object["timeInMs"] = event["timeInMs"];
            object["eventName"] = want.name;
            object["cfgId"] = "cfg-a";
            object["appVersion"] = "5.0";
            object["value"] = want.name == "vxsdk_first_open" ? event["value"] : want.value;
            if (want.name == "vxsdk_first_open") sessionId = event["id"];
            rebuilt["subMessages"].push_back(object);
        }
        EXPECT_EQ(request.body, rebuilt.dump());
    }
    // The level start came before any session; everything after carries it.
    EXPECT_EQ(delivered[0]["id"], "");
    for (size_t i = 1; i < delivered.size(); ++i) EXPECT_EQ(delivered[i]["id"], sessionId);
    EXPECT_EQ(delivered[1]["value"]["cfg_id"], "cfg-a");
    EXPECT_EQ(delivered[1]["value"]["country"], "D\xC3\xA9");
    EXPECT_EQ(delivered[1]["value"]["app_version"], "5.0");
}

TEST_F(EndToEnd, UserIdPersistsAcrossRunsInOneSaveFolder) {
    TrackingManager* first = create();
    const std::string userId = userIdOf(first);
    TrackingManager_Start(first);
    ASSERT_EQ(waitForEvents(1).size(), 1u);
    TrackingManager_Stop(first);
    TrackingManager_Destroy(first);

    TrackingManager* second = create();
    EXPECT_EQ(userIdOf(second), userId);
    TrackingManager_Start(second);
    const auto events = waitForEvents(2);
    TrackingManager_Destroy(second);  // destroy stops the worker itself
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["eventName"], "vxsdk_first_open");
    EXPECT_EQ(events[1]["eventName"], "vxsdk_open");
    for (const auto& request : service.requests())
        EXPECT_EQ(json::parse(request.body)["vxUid"], userId);
}

TEST_F(EndToEnd, StopAndStartAgainLoseAndRepeatNothing) {
    TrackingManager* manager = create("player");
    TrackingManager_Start(manager);
    for (int i = 0; i < 5; ++i) TrackingManager_TrackWithIntValue(manager, "before", i);
    ASSERT_EQ(waitForEvents(6).size(), 6u);
    TrackingManager_Stop(manager);
    for (int i = 0; i < 5; ++i) TrackingManager_TrackWithIntValue(manager, "stopped", i);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(deliveredEvents().size(), 6u);  // nothing leaves while stopped
    TrackingManager_Start(manager);
    const auto events = waitForEvents(11);
    TrackingManager_Destroy(manager);
    ASSERT_EQ(events.size(), 11u);
    std::set<std::string> ids;
    for (const auto& event : events) ids.insert(event["eId"].get<std::string>());
    EXPECT_EQ(ids.size(), 11u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(events[6 + i]["value"]["value"], i);
}

TEST_F(EndToEnd, EventsOfAFailedRunAreDeliveredByTheNextProcess) {
    service.setScript({}, Reply{503});
    TrackingManager* first = create("player");
    TrackingManager_Start(first);
    for (int i = 0; i < 20; ++i) TrackingManager_TrackWithIntValue(first, "saved", i);
    ASSERT_TRUE(service.waitForRequests(2, 10s));
    TrackingManager_Stop(first);
    TrackingManager_Destroy(first);

    service.setScript({}, Reply{200});
    const size_t failedRequests = service.requests().size();
    TrackingManager* second = create("player");
    TrackingManager_Start(second);
    const std::vector<json> accepted = waitForEvents(22, failedRequests);
    TrackingManager_Destroy(second);
    ASSERT_EQ(accepted.size(), 22u);  // open, 20 saved events, open of the second run
    std::map<std::string, int> names;
    for (const auto& event : accepted) ++names[event["eventName"].get<std::string>()];
    EXPECT_EQ(names["saved"], 20);
    EXPECT_EQ(names["vxsdk_first_open"] + names["vxsdk_open"], 2);
}

TEST_F(EndToEnd, ValueNestedToTheLimitIsDeliveredByTheNextRun) {
    const auto nested = [](size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    TrackingManager* first = create("player");
    TrackingManager_TrackWithJsonValue(first, "deepest", nested(256).c_str());
    TrackingManager_TrackWithJsonValue(first, "too_deep", nested(257).c_str());
    TrackingManager_Destroy(first);  // never started: both wait in the file

    TrackingManager* second = create("player");
    TrackingManager_Start(second);
    const auto events = waitForEvents(3);  // the two saved events and the opening
    TrackingManager_Destroy(second);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["eventName"], "deepest");
    EXPECT_EQ(events[0]["value"].dump(), nested(256));
    EXPECT_EQ(events[1]["eventName"], "too_deep");
    EXPECT_TRUE(events[1]["value"].is_null());  // refused when tracked
}

TEST_F(EndToEnd, StopReturnsPromptlyDuringALongBackOff) {
    service.setScript({}, Reply{503});
    InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, folder.path().c_str());
    InitializationData_SetInitialRetryInterval(config, 60000);
    InitializationData_SetMaxRetries(config, 1000);
    TrackingManager* manager = createManager("k", "s", config);
    TrackingManager_Start(manager);
    TrackingManager_TrackLevelStart(manager, 1, "x");
    TrackingManager_TrackLevelStart(manager, 2, "y");
    ASSERT_TRUE(service.waitForRequests(1, 10s));
    std::this_thread::sleep_for(50ms);  // now in the one-minute back-off
    const auto before = std::chrono::steady_clock::now();
    TrackingManager_Stop(manager);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    TrackingManager_Destroy(manager);
    EXPECT_EQ(service.requests().size(), 1u);
}
