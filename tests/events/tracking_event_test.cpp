#include "events/tracking_event.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/json_nesting.h"

using Corvex::Tracking::TrackingEvent;
using nlohmann::json;

namespace {

TrackingEvent sampleEvent() {
    TrackingEvent event;
    event.eId = "0f8e2c1a-1111-4222-9333-444455556666";
    event.eventName = "vxsdk_level_attempt";
    event.id = "session";
    event.timeInMs = 1700000000123;
    event.cfgId = "default";
    event.appVersion = "1.2.3";
    event.setLevelValue(3, "forest");
    return event;
}

// Runs fn and returns the JSON library's exception id and message.
template <typename F>
std::pair<int, std::string> failure(F&& fn) {
    try {
        fn();
    } catch (const json::exception& e) {
        return {e.id, e.what()};
    }
    return {0, ""};
}

}  // namespace

TEST(TrackingEventJson, WritesAllMembersInKeyOrderCompactly) {
    EXPECT_EQ(
        sampleEvent().toJsonText(),
        R"({"appVersion":"1.2.3","cfgId":"default","eId":"0f8e2c1a-1111-4222-9333-444455556666",)"
        R"("eventName":"vxsdk_level_attempt","id":"session","timeInMs":1700000000123,)"
        R"("value":{"label":"forest","level":3}})");
    EXPECT_EQ(
        TrackingEvent().toJsonText(),
        R"({"appVersion":"","cfgId":"","eId":"","eventName":"","id":"","timeInMs":0,"value":null})");
}

TEST(TrackingEventJson, EscapesControlsAndKeepsNonAsciiRaw) {
    TrackingEvent event;
    event.eventName = "quote\" back\\ tab\t nl\n bell\x07 \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::string text = event.toJsonText();
    EXPECT_NE(text.find(R"("eventName":"quote\" back\\ tab\t nl\n bell\u0007 )"
                        "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""),
              std::string::npos)
        << text;
}

TEST(TrackingEventJson, WritesNumbersInShortestRoundTripForm) {
    TrackingEvent event;
    event.setPurchaseValue("gems", 0.99f, 10, "USD", -1);
    EXPECT_EQ(
        event.value.dump(),
        R"({"amount":10,"currency":"USD","pack":"gems","price":0.9900000095367432,"store_type":"other"})");
    event.setPurchaseValue("gems", 2.5f, -1, "", 0);
    EXPECT_EQ(event.value["price"].dump(), "2.5");
    event.setPurchaseValue("gems", 100.0f, 1, "", 0);
    EXPECT_EQ(event.value["price"].dump(), "100.0");
    event.setPurchaseValue("gems", std::nanf(""), 1, "", 0);
    EXPECT_EQ(event.value["price"].dump(), "null");
    event.setPurchaseValue("gems", std::numeric_limits<float>::infinity(), 1, "", 0);
    EXPECT_EQ(event.value["price"].dump(), "null");
    event.setLevelValue(-3, "");
    EXPECT_EQ(event.value.dump(), R"({"label":"","level":-3})");
}

TEST(TrackingEventJson, RejectsInvalidUtf8WithTypeError316) {
    TrackingEvent event;
    event.cfgId = "bad\xFF";
    const auto [id, message] = failure([&] { (void)event.toJsonText(); });
    EXPECT_EQ(id, 316);
    EXPECT_NE(message.find("invalid UTF-8 byte at index 3: 0xFF"), std::string::npos) << message;
}

TEST(TrackingEventJson, RoundTripsThroughText) {
    TrackingEvent original = sampleEvent();
    original.value = json::parse(R"({"z":[1,2.5,"\u00e9",null,true],"a":{"y":1,"b":-2}})");
    const std::string text = original.toJsonText();
    TrackingEvent copy;
    copy.fromJsonText(text.c_str());
    EXPECT_EQ(copy.eId, original.eId);
    EXPECT_EQ(copy.eventName, original.eventName);
    EXPECT_EQ(copy.id, original.id);
    EXPECT_EQ(copy.timeInMs, original.timeInMs);
    EXPECT_EQ(copy.cfgId, original.cfgId);
    EXPECT_EQ(copy.appVersion, original.appVersion);
    EXPECT_EQ(copy.value, original.value);
    EXPECT_EQ(copy.toJsonText(), text);
}

TEST(TrackingEventJson, ReadsARecordAboveAValueNestedToTheLimitButNoDeeper) {
    using Corvex::Tracking::MAX_JSON_DEPTH;
    const auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '[') +
               std::string(static_cast<size_t>(depth), ']');
    };
    TrackingEvent event;
    event.fromJsonText((R"({"value":)" + nested(MAX_JSON_DEPTH) + "}").c_str());
    EXPECT_EQ(event.value.dump(), nested(MAX_JSON_DEPTH));
    const std::string deeper = R"({"value":)" + nested(MAX_JSON_DEPTH + 1) + "}";
    EXPECT_EQ(failure([&] { event.fromJsonText(deeper.c_str()); }).first, 101);
}

TEST(TrackingEventJson, FromJsonUsesDefaultsForMissingMembersAndIgnoresOthers) {
    TrackingEvent event = sampleEvent();
    event.fromJsonText(R"({"eventName":"x","extra":[1]})");
    EXPECT_EQ(event.eventName, "x");
    EXPECT_EQ(event.eId, "");
    EXPECT_TRUE(event.value.is_null());
    EXPECT_EQ(event.timeInMs, 0);
    EXPECT_EQ(event.appVersion, "");
}

TEST(TrackingEventJson, FromJsonConvertsTimes) {
    TrackingEvent event;
    event.fromJsonText(R"({"timeInMs":12.9})");
    EXPECT_EQ(event.timeInMs, 12);
    event.fromJsonText(R"({"timeInMs":-12.9})");
    EXPECT_EQ(event.timeInMs, -12);
    event.fromJsonText(R"({"timeInMs":18446744073709551615})");  // unsigned, taken as its bits
    EXPECT_EQ(event.timeInMs, -1);
    event.fromJsonText(R"({"timeInMs":1e300})");
    EXPECT_EQ(event.timeInMs, std::numeric_limits<int64_t>::max());
    event.fromJsonText(R"({"timeInMs":-1e300})");
    EXPECT_EQ(event.timeInMs, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(Corvex::Tracking::saturatingMilliseconds(std::nan("")), 0);
    EXPECT_EQ(Corvex::Tracking::saturatingMilliseconds(9223372036854775807.0),
              std::numeric_limits<int64_t>::max());
}

TEST(TrackingEventJson, FromJsonReportsEachFailureWithTheLibrarysError) {
    TrackingEvent event;
    auto [id, message] = failure([&] { event.fromJsonText("[1,2]"); });
    EXPECT_EQ(id, 306);
    EXPECT_NE(message.find("cannot use value() with array"), std::string::npos) << message;

    std::tie(id, message) = failure([&] { event.fromJsonText(R"({"eId":5})"); });
    EXPECT_EQ(id, 302);
    EXPECT_NE(message.find("type must be string, but is number"), std::string::npos) << message;

    std::tie(id, message) = failure([&] { event.fromJsonText(R"({"id":null})"); });
    EXPECT_EQ(id, 302);
    EXPECT_NE(message.find("but is null"), std::string::npos) << message;

    std::tie(id, message) = failure([&] { event.fromJsonText(R"({"timeInMs":"12"})"); });
    EXPECT_EQ(id, 302);
    EXPECT_NE(message.find("type must be number, but is string"), std::string::npos) << message;

    std::tie(id, message) = failure([&] { event.fromJsonText(R"({"timeInMs":null})"); });
    EXPECT_EQ(id, 302);

    // Parse errors: trailing text, comments, truncation.
    EXPECT_EQ(failure([&] { event.fromJsonText(R"({"a":1} x)"); }).first, 101);
    EXPECT_EQ(failure([&] { event.fromJsonText(R"(/*c*/{"a":1})"); }).first, 101);
    EXPECT_EQ(failure([&] { event.fromJsonText(R"({"a":)"); }).first, 101);

    // Fields read before a failure are already overwritten.
    event.eventName = "kept?";
    failure([&] { event.fromJsonText(R"({"eventName":"new","id":1})"); });
    EXPECT_EQ(event.eventName, "new");
}

TEST(PayloadBuilders, AdPlacementResolvesAutomaticAndFallbacks) {
    TrackingEvent event;
    event.setAdValue("unit", 0, -1);
    EXPECT_EQ(event.value.dump(),
              R"({"ad_unit":"unit","placement":"bottom","placement_type":"banner"})");
    event.setAdValue("unit", 1, -1);
    EXPECT_EQ(event.value.dump(),
              R"({"ad_unit":"unit","placement":"fullscreen","placement_type":"interstitial"})");
    event.setAdValue("unit", 7, -1);
    EXPECT_EQ(event.value.dump(),
              R"({"ad_unit":"unit","placement":"fullscreen","placement_type":""})");
    event.setAdValue("", 2, 1);
    EXPECT_EQ(event.value.dump(),
              R"({"ad_unit":"","placement":"top","placement_type":"rewarded_video"})");
    event.setAdValue("u", 0, 9);
    EXPECT_EQ(event.value["placement"], "");
    event.setAdValue("u", 0, 2);
    EXPECT_EQ(event.value["placement"], "left");
    event.setAdValue("u", 0, 3);
    EXPECT_EQ(event.value["placement"], "right");
}

TEST(PayloadBuilders, StoreStatusAndDefaults) {
    TrackingEvent event;
    const char* stores[] = {"app_store", "google_play", "amazon_store", "microsoft_store"};
    for (int i = 0; i < 4; ++i) {
        event.setStoreTypeValue(i);
        EXPECT_EQ(event.value.dump(), std::string(R"({"store_type":")") + stores[i] + "\"}");
    }
    event.setStoreTypeValue(7);
    EXPECT_EQ(event.value["store_type"], "other");
    event.setIapStatusValue("success", -1);
    EXPECT_EQ(event.value.dump(), R"({"status":"success","store_type":"other"})");

    const char* statuses[] = {"not_determined", "restricted", "denied", "authorized"};
    for (int i = 0; i < 4; ++i) {
        event.setTrackingStatusValue(i);
        EXPECT_EQ(event.value["status"], statuses[i]);
    }
    event.setTrackingStatusValue(4);
    EXPECT_EQ(event.value["status"], "not_determined");
    event.setTrackingStatusValue(-1);
    EXPECT_EQ(event.value["status"], "not_determined");

    event.setWalletValue("0xabc", "");
    EXPECT_EQ(event.value.dump(), R"({"type":"ethereum","wallet":"0xabc"})");
    event.setWalletValue("0xabc", "solana");
    EXPECT_EQ(event.value["type"], "solana");
    event.setCryptoPaymentValue("pack", 1.5f, 2, "", "");
    EXPECT_EQ(event.value.dump(),
              R"({"amount":2,"chain":"ethereum","currency":"ETH","pack":"pack","price":1.5})");
    event.setCryptoPaymentValue("pack", 1.5f, 2, "USDC", "polygon");
    EXPECT_EQ(event.value["currency"], "USDC");
    EXPECT_EQ(event.value["chain"], "polygon");
    event.setPurchaseValue("pack", 1.5f, 2, "", 1);
    EXPECT_EQ(event.value["currency"], "");  // no default for in-app purchases
}

TEST(PayloadBuilders, SimpleObjects) {
    TrackingEvent event;
    event.setBootTimeValue(1500);
    EXPECT_EQ(event.value.dump(), R"({"boot_time":1500})");
    event.setFacebookValue("fb");
    EXPECT_EQ(event.value.dump(), R"({"facebook_id":"fb"})");
    event.setUpdateValue("1.0", "2.0");
    EXPECT_EQ(event.value.dump(), R"({"current_version":"1.0","new_version":"2.0"})");
    event.setSoundModeValue("mute");
    EXPECT_EQ(event.value.dump(), R"({"sound_mode":"mute"})");
    event.setAccountValue("id1", "google");
    EXPECT_EQ(event.value.dump(), R"({"id":"id1","type":"google"})");
    event.setIntValue(-5);
    EXPECT_EQ(event.value.dump(), R"({"value":-5})");
    event.setIntValue(2147483647);
    EXPECT_EQ(event.value.dump(), R"({"value":2147483647})");
    event.setStringValue(R"({"a":1})");
    EXPECT_EQ(event.value.dump(), R"({"value":"{\"a\":1}"})");
    event.setOpenValue("", "", "", "10.0 (Build 1)", "0.0.1", "1", "default");
    EXPECT_EQ(
        event.value.dump(),
        R"({"app_version":"0.0.1","build_number":"1","cfg_id":"default","country":"",)"
        R"x("device":"","ip_address":"","os_version":"10.0 (Build 1)","vx_sdk_version":"0.0.1-cpp"})x");
}

TEST(PayloadBuilders, JsonTextValue) {
    TrackingEvent event;
    event.setValueFromJsonText(R"({"b":2,"a":1})");
    EXPECT_EQ(event.value.dump(), R"({"a":1,"b":2})");
    event.setValueFromJsonText("[1,2]");
    EXPECT_EQ(event.value.dump(), "[1,2]");
    event.setValueFromJsonText(" 42 ");
    EXPECT_EQ(event.value.dump(), "42");
    event.setValueFromJsonText(R"("hi")");
    EXPECT_EQ(event.value.dump(), R"("hi")");
    for (const char* bad : {"", "{\"a\":1", "{} {}", "/* c */ 1", "nul", "\"\xFF\""}) {
        event.value = 7;
        event.setValueFromJsonText(bad);
        EXPECT_TRUE(event.value.is_null()) << bad;
    }
}

TEST(PayloadBuilders, RefillingARecycledRecordLeavesNothingOfItsOldPayload) {
    TrackingEvent event;
    // The same keys as the level payload, with other types (a custom event's).
    event.value = json::parse(R"({"label":5,"level":"x"})");
    event.setLevelValue(3, "forest");
    EXPECT_EQ(event.value.dump(), R"({"label":"forest","level":3})");
    event.setLevelValue(4, std::string(100, 'l'));
    event.setLevelValue(5, "x");
    EXPECT_EQ(event.value.dump(), R"({"label":"x","level":5})");
    event.value = json::parse(R"({"value":[1,{"a":2}]})");
    event.setStringValue("s");
    EXPECT_EQ(event.value.dump(), R"({"value":"s"})");
    event.setIntValue(1);
    EXPECT_EQ(event.value.dump(), R"({"value":1})");
    // More members than the payload has, and fewer.
    event.value = json::parse(R"({"label":"a","level":1,"extra":true})");
    event.setLevelValue(2, "b");
    EXPECT_EQ(event.value.dump(), R"({"label":"b","level":2})");
    event.setPurchaseValue("p", 2.5f, 1, "EUR", 0);
    EXPECT_EQ(event.value.dump(),
              R"({"amount":1,"currency":"EUR","pack":"p","price":2.5,"store_type":"app_store"})");
}
