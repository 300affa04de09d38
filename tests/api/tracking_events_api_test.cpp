// Every tracking export through the C interface, checked in the queue file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "corvex/tracking.h"
#include "support/save_folder.h"
#include "support/temp_folder.h"

using Corvex::Tracking::Testing::savedEvents;
using Corvex::Tracking::Testing::TempFolder;
using nlohmann::json;

namespace {

class TrackingExports : public ::testing::Test {
protected:
    TempFolder folder{"exports"};
    TrackingManager* manager = nullptr;

    void SetUp() override { manager = create(-1); }
    void TearDown() override { TrackingManager_Destroy(manager); }

    TrackingManager* create(int32_t storeType) {
        InitializationData* config = InitializationData_Create();
        InitializationData_SetSavePath(config, folder.path().c_str());
        InitializationData_SetStoreType(config, storeType);
        InitializationData_SetAppVersion(config, "3.2.1");
        InitializationData_SetCustomConfigId(config, 1);  // keeps everything in the queue
        TrackingManager* created = TrackingManager_Create("user", "secret", config);
        InitializationData_Destroy(config);  // read only during create
        return created;
    }

    // The name and payload text of every saved event, in order.
    std::vector<std::pair<std::string, std::string>> tracked() {
        std::vector<std::pair<std::string, std::string>> list;
        for (const json& event : savedEvents(folder.path())) {
            list.emplace_back(event["eventName"], event["value"].dump());
        }
        return list;
    }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST_F(TrackingExports, LevelsBootAndStoreEvents) {
    TrackingManager_TrackLevelStart(manager, 3, "forest");
    TrackingManager_TrackLevelEnd(manager, -3, "forest", 2);
    TrackingManager_TrackLevelEnd(manager, 3, "", 0);
    TrackingManager_TrackBootStart(manager);
    TrackingManager_TrackIAPInitialization(manager, 1);
    TrackingManager_TrackIAPInitialization(manager, 0);
    TrackingManager_TrackIAPRestorePurchase(manager);
    TrackingManager_TrackRateGame(manager);
    TrackingManager_TrackUpdateGame(manager, "4.0");
    TrackingManager_TrackSoundMode(manager, "mute");
    TrackingManager_TrackAuthorizationTrackingStatus(manager, 3);
    TrackingManager_TrackAuthorizationTrackingStatus(manager, 4);
    EXPECT_EQ(
        tracked(),
        (Pairs{{"vxsdk_level_attempt", R"({"label":"forest","level":3})"},
               {"vxsdk_level_complete", R"({"label":"forest","level":-3})"},
               {"vxsdk_level_fail", R"({"label":"","level":3})"},
               {"vxsdk_boot_start", "null"},
               {"vxsdk_iap_initialization", R"({"status":"success","store_type":"other"})"},
               {"vxsdk_iap_initialization", R"({"status":"failed","store_type":"other"})"},
               {"vxsdk_iap_restore_purchase", R"({"store_type":"other"})"},
               {"vxsdk_store_rating_click", R"({"store_type":"other"})"},
               {"vxsdk_update_click", R"({"current_version":"3.2.1","new_version":"4.0"})"},
               {"vxsdk_audio_sound_mode", R"({"sound_mode":"mute"})"},
               {"vxsdk_att_authorization_tracking_status", R"({"status":"authorized"})"},
               {"vxsdk_att_authorization_tracking_status", R"({"status":"not_determined"})"}}));
}

TEST_F(TrackingExports, AdEventsWithAndWithoutPlacement) {
    TrackingManager_TrackAdLoad(manager, "u1", 0);
    TrackingManager_TrackAdLoad2(manager, "u2", 1, 1);
    TrackingManager_TrackAdClose(manager, "u3", 7);
    TrackingManager_TrackAdClose2(manager, "u4", 0, -1);
    TrackingManager_TrackAdClick(manager, "u5", 2);
    TrackingManager_TrackAdClick2(manager, "u6", 2, 3);
    TrackingManager_TrackAdImpression(manager, "u7", 1);
    TrackingManager_TrackAdImpression2(manager, "u8", 0, 9);
    EXPECT_EQ(
        tracked(),
        (Pairs{
            {"vxsdk_ad_load", R"({"ad_unit":"u1","placement":"bottom","placement_type":"banner"})"},
            {"vxsdk_ad_load",
             R"({"ad_unit":"u2","placement":"top","placement_type":"interstitial"})"},
            {"vxsdk_ad_close", R"({"ad_unit":"u3","placement":"fullscreen","placement_type":""})"},
            {"vxsdk_ad_close",
             R"({"ad_unit":"u4","placement":"bottom","placement_type":"banner"})"},
            {"vxsdk_ad_click",
             R"({"ad_unit":"u5","placement":"fullscreen","placement_type":"rewarded_video"})"},
            {"vxsdk_ad_click",
             R"({"ad_unit":"u6","placement":"right","placement_type":"rewarded_video"})"},
            {"vxsdk_ad_impression",
             R"({"ad_unit":"u7","placement":"fullscreen","placement_type":"interstitial"})"},
            {"vxsdk_ad_impression",
             R"({"ad_unit":"u8","placement":"","placement_type":"banner"})"}}));
}

TEST_F(TrackingExports, PurchasesAccountsWalletsAndPayments) {
    TrackingManager_Destroy(manager);
    manager = create(1);
    TrackingManager_TrackIAPBuyStart(manager, "gems", 0.99f, 100, "");
    TrackingManager_TrackIAPBuyEnd(manager, "gems", std::nanf(""), 1, "USD", 1);
    TrackingManager_TrackIAPBuyEnd(manager, "gems", 2.5f, 1, "USD", 0);
    TrackingManager_TrackFacebookLogin(manager, "fb1");
    TrackingManager_TrackFacebookLogout(manager, "fb1");
    TrackingManager_TrackAccountLogin(manager, "a", "google");
    TrackingManager_TrackAccountLogout(manager, "a", "google");
    TrackingManager_TrackAccountLink(manager, "a", "apple");
    TrackingManager_TrackAccountUnlink(manager, "a", "apple");
    TrackingManager_TrackWalletLink(manager, "0x1");
    TrackingManager_TrackWalletLink2(manager, "0x2", "");
    TrackingManager_TrackWalletUnlink(manager, "0x3");
    TrackingManager_TrackWalletUnlink2(manager, "0x4", "solana");
    TrackingManager_TrackCryptoPayment(manager, "p", 1.5f, 2);
    TrackingManager_TrackCryptoPayment2(manager, "p", 1.5f, 2, "");
    TrackingManager_TrackCryptoPayment3(manager, "p", 1.5f, 2, "USDC", "polygon");
    const std::string crypto =
        R"({"amount":2,"chain":"ethereum","currency":"ETH","pack":"p","price":1.5})";
    EXPECT_EQ(
        tracked(),
        (Pairs{
            {"vxsdk_iap_buy",
             R"({"amount":100,"currency":"","pack":"gems","price":0.9900000095367432,"store_type":"google_play"})"},
            {"vxsdk_iap_success_payment",
             R"({"amount":1,"currency":"USD","pack":"gems","price":null,"store_type":"google_play"})"},
            {"vxsdk_iap_fail_payment",
             R"({"amount":1,"currency":"USD","pack":"gems","price":2.5,"store_type":"google_play"})"},
            {"vxsdk_fb_login", R"({"facebook_id":"fb1"})"},
            {"vxsdk_fb_logout", R"({"facebook_id":"fb1"})"},
            {"vxsdk_account_login", R"({"id":"a","type":"google"})"},
            {"vxsdk_account_logout", R"({"id":"a","type":"google"})"},
            {"vxsdk_account_link", R"({"id":"a","type":"apple"})"},
            {"vxsdk_account_unlink", R"({"id":"a","type":"apple"})"},
            {"vxsdk_account_link_wallet", R"({"type":"ethereum","wallet":"0x1"})"},
            {"vxsdk_account_link_wallet", R"({"type":"ethereum","wallet":"0x2"})"},
            {"vxsdk_account_unlink_wallet", R"({"type":"ethereum","wallet":"0x3"})"},
            {"vxsdk_account_unlink_wallet", R"({"type":"solana","wallet":"0x4"})"},
            {"vxsdk_crypto_payment", crypto},
            {"vxsdk_crypto_payment", crypto},
            {"vxsdk_crypto_payment",
             R"({"amount":2,"chain":"polygon","currency":"USDC","pack":"p","price":1.5})"}}));
}

TEST_F(TrackingExports, CustomEvents) {
    TrackingManager_Track(manager, "plain");
    TrackingManager_Track(manager, "");
    TrackingManager_TrackWithIntValue(manager, "int", 2147483647);
    TrackingManager_TrackWithStringValue(manager, "str", R"({"a":1})");
    TrackingManager_TrackWithJsonValue(manager, "obj", R"({"b":2,"a":1})");
    TrackingManager_TrackWithJsonValue(manager, "arr", "[1,2]");
    TrackingManager_TrackWithJsonValue(manager, "str", "\"hi\"");
    TrackingManager_TrackWithJsonValue(manager, "bad", "{\"a\":1");
    TrackingManager_TrackWithJsonValue(manager, "empty", "");
    EXPECT_EQ(tracked(), (Pairs{{"plain", "null"},
                                {"", "null"},
                                {"int", R"({"value":2147483647})"},
                                {"str", R"({"value":"{\"a\":1}"})"},
                                {"obj", R"({"a":1,"b":2})"},
                                {"arr", "[1,2]"},
                                {"str", R"("hi")"},
                                {"bad", "null"},
                                {"empty", "null"}}));
    for (const json& event : savedEvents(folder.path())) {
        EXPECT_EQ(event["appVersion"], "3.2.1");
        EXPECT_EQ(event["id"], "");  // tracked before any start
    }
}

TEST_F(TrackingExports, NullTextsCountAsEmptyAndBadUtf8IsRepaired) {
    TrackingManager_TrackLevelStart(manager, 1, nullptr);
    TrackingManager_TrackWithJsonValue(manager, nullptr, nullptr);
    TrackingManager_TrackWalletLink2(manager, nullptr, nullptr);
    TrackingManager_TrackWithStringValue(manager, "bad\xFF", "\xC3");
    TrackingManager_TrackWithJsonValue(manager, "json", "\"\xFF\"");
    EXPECT_EQ(tracked(), (Pairs{{"vxsdk_level_attempt", R"({"label":"","level":1})"},
                                {"", "null"},
                                {"vxsdk_account_link_wallet", R"({"type":"ethereum","wallet":""})"},
                                {"bad\xEF\xBF\xBD", "{\"value\":\"\xEF\xBF\xBD\"}"},
                                {"json", "\"\xEF\xBF\xBD\""}}));
}

TEST(TrackingManagerApi, NullHandleAndNullTextsDoNothing) {
    TrackingManager_Start(nullptr);
    TrackingManager_OnPause(nullptr);
    TrackingManager_OnResume(nullptr);
    TrackingManager_SetUserId(nullptr, "x");
    TrackingManager_SetConfigId(nullptr, "x");
    TrackingManager_SetSendVerbose(nullptr, 1);
    TrackingManager_SetSendProxy(nullptr, "http://127.0.0.1:1");
    TrackingManager_TrackLevelStart(nullptr, 1, "x");
    TrackingManager_TrackWithJsonValue(nullptr, "x", "{}");
    TrackingManager_Stop(nullptr);
    TrackingManager_Destroy(nullptr);
    char* empty = TrackingManager_GetUserId(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);

    char* version = TrackingManager_GetVersion();
    char* again = TrackingManager_GetVersion();
    EXPECT_STREQ(version, "0.0.1-cpp");
    EXPECT_NE(version, again);  // a new copy each time
    std::free(version);
    std::free(again);

    TempFolder folder("null_texts");
    InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, folder.path().c_str());
    InitializationData_SetUserId(config, "kept");
    TrackingManager* manager = TrackingManager_Create(nullptr, nullptr, config);
    InitializationData_Destroy(config);
    ASSERT_NE(manager, nullptr);
    TrackingManager_SetUserId(manager, nullptr);
    TrackingManager_SetConfigId(manager, nullptr);
    TrackingManager_SetSendProxy(manager, nullptr);
    TrackingManager_SetSendCertificateAuthority(manager, nullptr);
    TrackingManager_SetSendProxyCertificateAuthority(manager, nullptr);
    char* userId = TrackingManager_GetUserId(manager);
    EXPECT_STREQ(userId, "kept");
    std::free(userId);
    TrackingManager_SetUserId(manager, "n\xFF");
    userId = TrackingManager_GetUserId(manager);
    EXPECT_STREQ(userId, "n\xEF\xBF\xBD");
    std::free(userId);
    TrackingManager_Destroy(manager);

    // A null record means the defaults: saving on, in the per-user folder.
    TempFolder appData("app_data");
    ::setenv("LOCALAPPDATA", appData.path().c_str(), 1);
    TrackingManager* defaults = TrackingManager_Create("", "", nullptr);
    ::unsetenv("LOCALAPPDATA");
    ASSERT_NE(defaults, nullptr);
    EXPECT_TRUE(std::filesystem::exists(appData.path() + "/Corvex/Tracking/.properties"));
    TrackingManager_Destroy(defaults);
}
