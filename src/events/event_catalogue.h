// The fixed event names and the texts of the enumerations that the typed
// tracking calls take as numbers.
#pragma once

#include <cstdint>

namespace Corvex::Tracking::Catalogue {

inline constexpr const char* AD_IMPRESSION = "vxsdk_ad_impression";
inline constexpr const char* AD_CLICK = "vxsdk_ad_click";
inline constexpr const char* AD_LOAD = "vxsdk_ad_load";
inline constexpr const char* AD_CLOSE = "vxsdk_ad_close";
inline constexpr const char* OPEN = "vxsdk_open";
inline constexpr const char* FIRST_OPEN = "vxsdk_first_open";
inline constexpr const char* BOOT_START = "vxsdk_boot_start";
inline constexpr const char* BOOT_END = "vxsdk_boot_end";
inline constexpr const char* LEVEL_ATTEMPT = "vxsdk_level_attempt";
inline constexpr const char* LEVEL_COMPLETE = "vxsdk_level_complete";
inline constexpr const char* LEVEL_FAIL = "vxsdk_level_fail";
inline constexpr const char* IAP_INITIALIZATION = "vxsdk_iap_initialization";
inline constexpr const char* IAP_RESTORE_PURCHASE = "vxsdk_iap_restore_purchase";
inline constexpr const char* IAP_BUY = "vxsdk_iap_buy";
inline constexpr const char* IAP_SUCCESS_PAYMENT = "vxsdk_iap_success_payment";
inline constexpr const char* IAP_FAIL_PAYMENT = "vxsdk_iap_fail_payment";
inline constexpr const char* FB_LOGIN = "vxsdk_fb_login";
inline constexpr const char* FB_LOGOUT = "vxsdk_fb_logout";
inline constexpr const char* UPDATE_CLICK = "vxsdk_update_click";
inline constexpr const char* STORE_RATING_CLICK = "vxsdk_store_rating_click";
inline constexpr const char* AUDIO_SOUND_MODE = "vxsdk_audio_sound_mode";
inline constexpr const char* ATT_AUTHORIZATION_TRACKING_STATUS =
    "vxsdk_att_authorization_tracking_status";
inline constexpr const char* ACCOUNT_LOGIN = "vxsdk_account_login";
inline constexpr const char* ACCOUNT_LOGOUT = "vxsdk_account_logout";
inline constexpr const char* ACCOUNT_LINK = "vxsdk_account_link";
inline constexpr const char* ACCOUNT_UNLINK = "vxsdk_account_unlink";
inline constexpr const char* ACCOUNT_LINK_WALLET = "vxsdk_account_link_wallet";
inline constexpr const char* ACCOUNT_UNLINK_WALLET = "vxsdk_account_unlink_wallet";
inline constexpr const char* CRYPTO_PAYMENT = "vxsdk_crypto_payment";

inline constexpr const char* DEFAULT_CHAIN = "ethereum";
inline constexpr const char* DEFAULT_CURRENCY = "ETH";

// Placement -1 picks bottom for banners and fullscreen for everything else.
constexpr int32_t AUTOMATIC_PLACEMENT = -1;

const char* adPlacementTypeName(int32_t placementType);
const char* adPlacementName(int32_t placementType, int32_t placement);
const char* storeTypeName(int32_t storeType);
const char* trackingStatusName(int32_t status);

}  // namespace Corvex::Tracking::Catalogue
