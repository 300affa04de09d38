#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/initialization_data.h"
#include "delivery/fake_properties.h"
#include "delivery/http_sender.h"
#include "events/tracking_event.h"

using namespace Corvex::Tracking;
using Corvex::Tracking::Testing::FakeProperties;
using nlohmann::json;

namespace {

TrackingEvent levelEvent(const std::string& eId, int32_t level) {
    TrackingEvent event;
    event.eId = eId;
    event.eventName = "vxsdk_level_attempt";
    event.id = "session";
    event.timeInMs = 1700000000123;
    event.cfgId = "config-1";
    event.appVersion = "1.4.0";
    event.setLevelValue(level, "forest");
    return event;
}

class BatchBody : public ::testing::Test {
protected:
    std::string body(const std::vector<const TrackingEvent*>& batch) {
        return HttpSender(InitializationData(), "token", &properties).buildBatchBody(batch);
    }
    FakeProperties properties;
};

}  // namespace

TEST_F(BatchBody, HoldsThePropertiesOnceAndEveryEventInOrder) {
    const TrackingEvent first = levelEvent("e-1", 1);
    const TrackingEvent second = levelEvent("e-2", 2);
    EXPECT_EQ(
        body({&first, &second}),
        R"({"bundleId":"com.example.game","country":"FR","device":"Desk 3",)"
        R"("osVersion":"6.1.0","platform":"Linux","subMessages":[)"
        R"({"appVersion":"1.4.0","cfgId":"config-1","eId":"e-1","eventName":"vxsdk_level_attempt",)"
        R"("id":"session","timeInMs":1700000000123,"value":{"label":"forest","level":1}},)"
        R"({"appVersion":"1.4.0","cfgId":"config-1","eId":"e-2","eventName":"vxsdk_level_attempt",)"
        R"("id":"session","timeInMs":1700000000123,"value":{"label":"forest","level":2}}],)"
        R"("vxSdkVersion":"0.0.1-cpp","vxUid":"user-1"})");
    // Each element is the event's own text, unchanged.
    EXPECT_EQ(json::parse(body({&first}))["subMessages"][0].dump(), first.toJsonText());
}

TEST_F(BatchBody, SendsEmptyValuesAndAnEmptyBatch) {
    properties.userId = properties.bundleId = properties.country = properties.deviceModel = "";
    properties.platform = properties.osVersion = "";
    EXPECT_EQ(body({}), R"({"bundleId":"","country":"","device":"","osVersion":"","platform":"",)"
                        R"("subMessages":[],"vxSdkVersion":"0.0.1-cpp","vxUid":""})");
}

TEST_F(BatchBody, WritesNonAsciiAsRawUtf8) {
    properties.country = "C\xC3\xB4te d'Ivoire";
    properties.deviceModel = "\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::string text = body({});
    EXPECT_NE(text.find(R"("country":"C)"
                        "\xC3\xB4"
                        R"(te d'Ivoire")"),
              std::string::npos);
    EXPECT_NE(text.find("\"device\":\"\xE2\x82\xAC\xF0\x9F\x98\x80\""), std::string::npos);
    EXPECT_EQ(text.find("\\u"), std::string::npos);
}

TEST_F(BatchBody, ReadsThePropertiesAfreshForEveryBody) {
    HttpSender sender(InitializationData(), "token", &properties);
    EXPECT_EQ(json::parse(sender.buildBatchBody({}))["vxUid"], "user-1");
    properties.set(&FakeProperties::userId, "user-2");
    EXPECT_EQ(json::parse(sender.buildBatchBody({}))["vxUid"], "user-2");
}

TEST_F(BatchBody, RefusesAPropertyThatIsNotUtf8) {
    properties.bundleId = "bad\xC3";
    try {
        body({});
        FAIL() << "no error";
    } catch (const json::type_error& error) {
        EXPECT_EQ(error.id, 316);
    }
}

TEST_F(BatchBody, IsTheLibrarysDocumentWhetherEventsCarryTheirQueuedTextOrNot) {
    properties.country = "q\"uote\\ \t\x01 \xC3\xA9";
    TrackingEvent plain = levelEvent("e-\n1", 1);
    plain.value = json::parse(R"({"z":[1.5,-0.0,1e300,null],"a":{"\u00e9":"\u0007"}})");
    TrackingEvent queued = levelEvent("e-2", 2);
    queued.queuedText = queued.toJsonText();

    json expected = {
        {"vxUid", properties.userId},        {"vxSdkVersion", "0.0.1-cpp"},
        {"bundleId", properties.bundleId},   {"country", properties.country},
        {"device", properties.deviceModel},  {"platform", properties.platform},
        {"osVersion", properties.osVersion}, {"subMessages", {plain.toJson(), queued.toJson()}}};
    EXPECT_EQ(body({&plain, &queued}), expected.dump());

    // The queued text is what goes out: the queue keeps it equal to the fields.
    queued.queuedText = R"({"spliced":true})";
    EXPECT_NE(body({&queued}).find(R"("subMessages":[{"spliced":true}])"), std::string::npos);
}
