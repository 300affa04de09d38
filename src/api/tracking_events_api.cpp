// The exported tracking functions: the typed events of the catalogue and the
// host's own events. Each makes an event, sets its payload and queues it.
#include <string_view>

#include "api/manager_handle.h"
#include "base/utf8.h"
#include "events/event_catalogue.h"

using Corvex::Tracking::textFromHost;
using Corvex::Tracking::TrackingEvent;
using Corvex::Tracking::withManager;
using Manager = Corvex::Tracking::TrackingManager;
namespace Names = Corvex::Tracking::Catalogue;

namespace {

template <typename Fill>
void trackEvent(TrackingManager* handle, std::string_view name, Fill&& fill) {
    withManager(handle, [&](Manager& m) { m.track(name, false, fill); });
}

void trackAd(TrackingManager* handle, const char* name, const char* adUnit, int32_t placementType,
             int32_t placement) {
    trackEvent(handle, name, [&](TrackingEvent& e) {
        e.setAdValue(textFromHost(adUnit), placementType, placement);
    });
}

void trackPurchase(TrackingManager* handle, const char* name, const char* pack, float price,
                   int32_t amount, const char* currency) {
    withManager(handle, [&](Manager& m) {
        m.track(name, false, [&](TrackingEvent& e) {
            e.setPurchaseValue(textFromHost(pack), price, amount, textFromHost(currency),
                               m.storeType());
        });
    });
}

void trackAccount(TrackingManager* handle, const char* name, const char* id, const char* type) {
    trackEvent(handle, name,
               [&](TrackingEvent& e) { e.setAccountValue(textFromHost(id), textFromHost(type)); });
}

void trackWallet(TrackingManager* handle, const char* name, const char* wallet, const char* chain) {
    trackEvent(handle, name, [&](TrackingEvent& e) {
        e.setWalletValue(textFromHost(wallet), textFromHost(chain));
    });
}

void trackCrypto(TrackingManager* handle, const char* pack, float price, int32_t amount,
                 const char* currency, const char* chain) {
    trackEvent(handle, Names::CRYPTO_PAYMENT, [&](TrackingEvent& e) {
        e.setCryptoPaymentValue(textFromHost(pack), price, amount, textFromHost(currency),
                                textFromHost(chain));
    });
}

}  // namespace

extern "C" {

void TrackingManager_TrackBootStart(TrackingManager* manager) {
    withManager(manager, [](Manager& m) { m.trackBootStart(); });
}

void TrackingManager_TrackBootEnd(TrackingManager* manager) {
    withManager(manager, [](Manager& m) { m.trackBootEnd(); });
}

void TrackingManager_TrackLevelStart(TrackingManager* manager, int32_t level, const char* label) {
    trackEvent(manager, Names::LEVEL_ATTEMPT,
               [&](TrackingEvent& e) { e.setLevelValue(level, textFromHost(label)); });
}

void TrackingManager_TrackLevelEnd(TrackingManager* manager, int32_t level, const char* label,
                                   int32_t result) {
    trackEvent(manager, result != 0 ? Names::LEVEL_COMPLETE : Names::LEVEL_FAIL,
               [&](TrackingEvent& e) { e.setLevelValue(level, textFromHost(label)); });
}

void TrackingManager_TrackAdLoad(TrackingManager* manager, const char* adUnit,
                                 int32_t placementType) {
    trackAd(manager, Names::AD_LOAD, adUnit, placementType, Names::AUTOMATIC_PLACEMENT);
}
void TrackingManager_TrackAdLoad2(TrackingManager* manager, const char* adUnit,
                                  int32_t placementType, int32_t placement) {
    trackAd(manager, Names::AD_LOAD, adUnit, placementType, placement);
}
void TrackingManager_TrackAdClose(TrackingManager* manager, const char* adUnit,
                                  int32_t placementType) {
    trackAd(manager, Names::AD_CLOSE, adUnit, placementType, Names::AUTOMATIC_PLACEMENT);
}
void TrackingManager_TrackAdClose2(TrackingManager* manager, const char* adUnit,
                                   int32_t placementType, int32_t placement) {
    trackAd(manager, Names::AD_CLOSE, adUnit, placementType, placement);
}
void TrackingManager_TrackAdClick(TrackingManager* manager, const char* adUnit,
                                  int32_t placementType) {
    trackAd(manager, Names::AD_CLICK, adUnit, placementType, Names::AUTOMATIC_PLACEMENT);
}
void TrackingManager_TrackAdClick2(TrackingManager* manager, const char* adUnit,
                                   int32_t placementType, int32_t placement) {
    trackAd(manager, Names::AD_CLICK, adUnit, placementType, placement);
}
void TrackingManager_TrackAdImpression(TrackingManager* manager, const char* adUnit,
                                       int32_t placementType) {
    trackAd(manager, Names::AD_IMPRESSION, adUnit, placementType, Names::AUTOMATIC_PLACEMENT);
}
void TrackingManager_TrackAdImpression2(TrackingManager* manager, const char* adUnit,
                                        int32_t placementType, int32_t placement) {
    trackAd(manager, Names::AD_IMPRESSION, adUnit, placementType, placement);
}

void TrackingManager_TrackIAPInitialization(TrackingManager* manager, int32_t result) {
    withManager(manager, [&](Manager& m) {
        m.track(Names::IAP_INITIALIZATION, false, [&](TrackingEvent& e) {
            e.setIapStatusValue(result != 0 ? "success" : "failed", m.storeType());
        });
    });
}

void TrackingManager_TrackIAPRestorePurchase(TrackingManager* manager) {
    withManager(manager, [](Manager& m) {
        m.track(Names::IAP_RESTORE_PURCHASE, false,
                [&](TrackingEvent& e) { e.setStoreTypeValue(m.storeType()); });
    });
}

void TrackingManager_TrackIAPBuyStart(TrackingManager* manager, const char* pack, float price,
                                      int32_t amount, const char* currency) {
    trackPurchase(manager, Names::IAP_BUY, pack, price, amount, currency);
}

void TrackingManager_TrackIAPBuyEnd(TrackingManager* manager, const char* pack, float price,
                                    int32_t amount, const char* currency, int32_t result) {
    trackPurchase(manager, result != 0 ? Names::IAP_SUCCESS_PAYMENT : Names::IAP_FAIL_PAYMENT, pack,
                  price, amount, currency);
}

void TrackingManager_TrackFacebookLogin(TrackingManager* manager, const char* facebookId) {
    trackEvent(manager, Names::FB_LOGIN,
               [&](TrackingEvent& e) { e.setFacebookValue(textFromHost(facebookId)); });
}

void TrackingManager_TrackFacebookLogout(TrackingManager* manager, const char* facebookId) {
    trackEvent(manager, Names::FB_LOGOUT,
               [&](TrackingEvent& e) { e.setFacebookValue(textFromHost(facebookId)); });
}

void TrackingManager_TrackUpdateGame(TrackingManager* manager, const char* newVersion) {
    withManager(manager, [&](Manager& m) {
        m.track(Names::UPDATE_CLICK, false, [&](TrackingEvent& e) {
            e.setUpdateValue(m.getAppVersion(), textFromHost(newVersion));
        });
    });
}

void TrackingManager_TrackRateGame(TrackingManager* manager) {
    withManager(manager, [](Manager& m) {
        m.track(Names::STORE_RATING_CLICK, false,
                [&](TrackingEvent& e) { e.setStoreTypeValue(m.storeType()); });
    });
}

void TrackingManager_TrackSoundMode(TrackingManager* manager, const char* soundMode) {
    trackEvent(manager, Names::AUDIO_SOUND_MODE,
               [&](TrackingEvent& e) { e.setSoundModeValue(textFromHost(soundMode)); });
}

void TrackingManager_TrackAuthorizationTrackingStatus(TrackingManager* manager, int32_t status) {
    trackEvent(manager, Names::ATT_AUTHORIZATION_TRACKING_STATUS,
               [&](TrackingEvent& e) { e.setTrackingStatusValue(status); });
}

void TrackingManager_TrackAccountLogin(TrackingManager* manager, const char* id, const char* type) {
    trackAccount(manager, Names::ACCOUNT_LOGIN, id, type);
}
void TrackingManager_TrackAccountLogout(TrackingManager* manager, const char* id,
                                        const char* type) {
    trackAccount(manager, Names::ACCOUNT_LOGOUT, id, type);
}
void TrackingManager_TrackAccountLink(TrackingManager* manager, const char* id, const char* type) {
    trackAccount(manager, Names::ACCOUNT_LINK, id, type);
}
void TrackingManager_TrackAccountUnlink(TrackingManager* manager, const char* id,
                                        const char* type) {
    trackAccount(manager, Names::ACCOUNT_UNLINK, id, type);
}

void TrackingManager_TrackWalletLink(TrackingManager* manager, const char* wallet) {
    trackWallet(manager, Names::ACCOUNT_LINK_WALLET, wallet, nullptr);
}
void TrackingManager_TrackWalletLink2(TrackingManager* manager, const char* wallet,
                                      const char* chain) {
    trackWallet(manager, Names::ACCOUNT_LINK_WALLET, wallet, chain);
}
void TrackingManager_TrackWalletUnlink(TrackingManager* manager, const char* wallet) {
    trackWallet(manager, Names::ACCOUNT_UNLINK_WALLET, wallet, nullptr);
}
void TrackingManager_TrackWalletUnlink2(TrackingManager* manager, const char* wallet,
                                        const char* chain) {
    trackWallet(manager, Names::ACCOUNT_UNLINK_WALLET, wallet, chain);
}

void TrackingManager_TrackCryptoPayment(TrackingManager* manager, const char* pack, float price,
                                        int32_t amount) {
    trackCrypto(manager, pack, price, amount, nullptr, nullptr);
}
void TrackingManager_TrackCryptoPayment2(TrackingManager* manager, const char* pack, float price,
                                         int32_t amount, const char* currency) {
    trackCrypto(manager, pack, price, amount, currency, nullptr);
}
void TrackingManager_TrackCryptoPayment3(TrackingManager* manager, const char* pack, float price,
                                         int32_t amount, const char* currency, const char* chain) {
    trackCrypto(manager, pack, price, amount, currency, chain);
}

void TrackingManager_Track(TrackingManager* manager, const char* name) {
    withManager(manager,
                [&](Manager& m) { m.track(textFromHost(name), true, [](TrackingEvent&) {}); });
}

void TrackingManager_TrackWithIntValue(TrackingManager* manager, const char* name, int32_t value) {
    withManager(manager, [&](Manager& m) { m.trackIntValue(textFromHost(name), value); });
}

void TrackingManager_TrackWithStringValue(TrackingManager* manager, const char* name,
                                          const char* value) {
    withManager(manager,
                [&](Manager& m) { m.trackStringValue(textFromHost(name), textFromHost(value)); });
}

void TrackingManager_TrackWithJsonValue(TrackingManager* manager, const char* name,
                                        const char* json) {
    trackEvent(manager, textFromHost(name),
               [&](TrackingEvent& e) { e.setValueFromJsonText(textFromHost(json)); });
}

}  // extern "C"
