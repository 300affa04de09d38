// What the collector accepts as an event request: the body's members and
// types, and the Basic credentials.
#include "collector/received_batch.h"

#include <gtest/gtest.h>

#include "collector/basic_credentials.h"
#include "delivery/http_sender.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Collector;
using nlohmann::json;

namespace {

json goodEvent() {
    return json::parse(R"({"appVersion":"1.0","cfgId":"default","eId":"e-1","eventName":"level",
                           "id":"s-1","timeInMs":1700000000000,"value":{"level":3}})");
}

json goodBody() {
    return {{"vxUid", "u-1"},
            {"vxSdkVersion", "0.0.1-cpp"},
            {"bundleId", "com.example"},
            {"country", "D\xC3\xA9"},
            {"device", "Rig"},
            {"platform", "Linux"},
            {"osVersion", "6.1"},
            {"subMessages", {goodEvent(), goodEvent()}}};
}

std::string reasonFor(const std::string& text) {
    ReceivedBatch batch;
    return ReceivedBatch::parse(text, batch);
}

}  // namespace

TEST(ReceivedBatch, ReadsEveryMemberOfAGoodBody) {
    json body = goodBody();
    body["subMessages"][1]["eId"] = "e-2";
    body["subMessages"][1]["value"] = nullptr;
    ReceivedBatch batch;
    ASSERT_EQ(ReceivedBatch::parse(body.dump(), batch), "");
    EXPECT_EQ(batch.vxUid, "u-1");
    EXPECT_EQ(batch.country, "D\xC3\xA9");
    EXPECT_EQ(batch.osVersion, "6.1");
    ASSERT_EQ(batch.events.size(), 2u);
    EXPECT_EQ(batch.events[0].toJson(), goodEvent());
    EXPECT_EQ(batch.events[0].timeInMs, 1700000000000);
    EXPECT_EQ(batch.events[1].eId, "e-2");
    EXPECT_TRUE(batch.events[1].value.is_null());

    body["subMessages"] = json::array();
    EXPECT_EQ(reasonFor(body.dump()), "");
}

TEST(ReceivedBatch, RefusesEachKindOfBadBodyWithItsReason) {
    const auto changed = [](const std::function<void(json&)>& change) {
        json body = goodBody();
        change(body);
        return body.dump();
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "body is not JSON (error at byte 1)"},
        {"{\"vxUid\":", "body is not JSON (error at byte 10)"},
        {"{\"a\":\"\xFF\"}", "body is not JSON (error at byte 7)"},
        {"[1,2]", "body is not a JSON object"},
        {changed([](json& b) { b.erase("device"); }), "missing member \"device\""},
        {changed([](json& b) { b["vxUid"] = 5; }), "vxUid is not a string"},
        {changed([](json& b) { b["subMessages"] = json::object(); }),
         "subMessages is not an array"},
        {changed([](json& b) { b["extra\n"] = 1; }), "unexpected member \"extra\\n\""},
        {changed([](json& b) { b["subMessages"][1] = "event"; }),
         "subMessages[1] is not an object"},
        {changed([](json& b) { b["subMessages"][0].erase("value"); }),
         "subMessages[0]: missing member \"value\""},
        {changed([](json& b) { b["subMessages"][1]["timeInMs"] = 12.5; }),
         "subMessages[1].timeInMs is not a 64-bit integer"},
        {changed([](json& b) { b["subMessages"][1]["timeInMs"] = "12"; }),
         "subMessages[1].timeInMs is not a 64-bit integer"},
        {changed([](json& b) { b["subMessages"][0]["timeInMs"] = uint64_t{1} << 63; }),
         "subMessages[0].timeInMs is not a 64-bit integer"},
        {changed([](json& b) { b["subMessages"][0]["id"] = nullptr; }),
         "subMessages[0].id is not a string"},
        {changed([](json& b) { b["subMessages"][0]["eId"] = ""; }), "subMessages[0].eId is empty"},
        {changed([](json& b) { b["subMessages"][0]["label"] = "x"; }),
         "subMessages[0]: unexpected member \"label\""},
    };
    for (const auto& [body, reason] : cases) EXPECT_EQ(reasonFor(body), reason) << body;
    // The most negative time is still a 64-bit integer.
    EXPECT_EQ(reasonFor(changed([](json& b) {
                  b["subMessages"][0]["timeInMs"] = std::numeric_limits<int64_t>::min();
              })),
              "");
}

TEST(BasicCredentials, ReadsTheLibrarysTokenAndRefusesOtherHeaders) {
    const std::string token = makeBasicToken("game-key", "p\xC3\xA4ss:word");
    const auto credentials = BasicCredentials::fromHeader("Basic " + token);
    ASSERT_TRUE(credentials);
    EXPECT_EQ(credentials->user, "game-key");
    EXPECT_EQ(credentials->password, "p\xC3\xA4ss:word");  // only the first colon splits
    EXPECT_TRUE(credentials->matches("game-key", "p\xC3\xA4ss:word"));
    EXPECT_FALSE(credentials->matches("game-key", "p\xC3\xA4ss"));
    EXPECT_FALSE(credentials->matches("game-ke", "p\xC3\xA4ss:word"));

    const auto empty = BasicCredentials::fromHeader("basic " + makeBasicToken("", ""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->matches("", ""));
    for (const std::string& bad :
         std::vector<std::string>{"", "Basic", "Basic ", "Bearer " + token, "Basic " + token + "=",
                                  "Basic " + token.substr(1), "Basic Z2FtZQ==" /* "game" */,
                                  "Basic ====", "Basic ab=c"}) {
        EXPECT_FALSE(BasicCredentials::fromHeader(bad)) << bad;
    }
}
