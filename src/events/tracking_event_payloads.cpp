// The payload builders of the typed and custom events.
#include "base/json_nesting.h"
#include "base/sdk_version.h"
#include "events/event_catalogue.h"
#include "events/payload.h"
#include "events/tracking_event.h"

namespace Corvex::Tracking {

using nlohmann::json;

void TrackingEvent::setAdValue(const std::string& adUnit, int32_t placementType,
                               int32_t placement) {
    Payload payload(value, {"ad_unit", "placement", "placement_type"});
    payload.setText("placement_type", Catalogue::adPlacementTypeName(placementType));
    payload.setText("placement", Catalogue::adPlacementName(placementType, placement));
    payload.setText("ad_unit", adUnit);
}

void TrackingEvent::setLevelValue(int32_t level, const std::string& label) {
    Payload payload(value, {"label", "level"});
    payload.setNumber("level", level);
    payload.setText("label", label);
}

void TrackingEvent::setBootTimeValue(int64_t bootTime) {
    Payload payload(value, {"boot_time"});
    payload.setNumber("boot_time", bootTime);
}

void TrackingEvent::setIapStatusValue(const std::string& status, int32_t storeType) {
    Payload payload(value, {"status", "store_type"});
    payload.setText("status", status);
    payload.setText("store_type", Catalogue::storeTypeName(storeType));
}

void TrackingEvent::setStoreTypeValue(int32_t storeType) {
    Payload payload(value, {"store_type"});
    payload.setText("store_type", Catalogue::storeTypeName(storeType));
}

void TrackingEvent::setPurchaseValue(const std::string& pack, float price, int32_t amount,
                                     const std::string& currency, int32_t storeType) {
    Payload payload(value, {"amount", "currency", "pack", "price", "store_type"});
    payload.setText("pack", pack);
    payload.setNumber("price", static_cast<double>(price));
    payload.setNumber("amount", amount);
    payload.setText("currency", currency);
    payload.setText("store_type", Catalogue::storeTypeName(storeType));
}

void TrackingEvent::setFacebookValue(const std::string& facebookId) {
    Payload payload(value, {"facebook_id"});
    payload.setText("facebook_id", facebookId);
}

void TrackingEvent::setUpdateValue(const std::string& currentVersion,
                                   const std::string& newVersion) {
    Payload payload(value, {"current_version", "new_version"});
    payload.setText("current_version", currentVersion);
    payload.setText("new_version", newVersion);
}

void TrackingEvent::setSoundModeValue(const std::string& soundMode) {
    Payload payload(value, {"sound_mode"});
    payload.setText("sound_mode", soundMode);
}

void TrackingEvent::setTrackingStatusValue(int32_t status) {
    Payload payload(value, {"status"});
    payload.setText("status", Catalogue::trackingStatusName(status));
}

void TrackingEvent::setAccountValue(const std::string& accountId, const std::string& type) {
    Payload payload(value, {"id", "type"});
    payload.setText("id", accountId);
    payload.setText("type", type);
}

void TrackingEvent::setWalletValue(const std::string& wallet, const std::string& chain) {
    Payload payload(value, {"type", "wallet"});
    payload.setText("wallet", wallet);
    payload.setText("type", chain.empty() ? std::string_view(Catalogue::DEFAULT_CHAIN) : chain);
}

void TrackingEvent::setCryptoPaymentValue(const std::string& pack, float price, int32_t amount,
                                          const std::string& currency, const std::string& chain) {
    Payload payload(value, {"amount", "chain", "currency", "pack", "price"});
    payload.setText("pack", pack);
    payload.setNumber("price", static_cast<double>(price));
    payload.setNumber("amount", amount);
    payload.setText("currency",
                    currency.empty() ? std::string_view(Catalogue::DEFAULT_CURRENCY) : currency);
    payload.setText("chain", chain.empty() ? std::string_view(Catalogue::DEFAULT_CHAIN) : chain);
}

void TrackingEvent::setOpenValue(const std::string& address, const std::string& country,
                                 const std::string& deviceModel, const std::string& osVersion,
                                 const std::string& appVersionText, const std::string& buildNumber,
                                 const std::string& configId) {
    Payload payload(value, {"app_version", "build_number", "cfg_id", "country", "device",
                            "ip_address", "os_version", "vx_sdk_version"});
    payload.setText("ip_address", address);
    payload.setText("country", country);
    payload.setText("device", deviceModel);
    payload.setText("os_version", osVersion);
    payload.setText("app_version", appVersionText);
    payload.setText("build_number", buildNumber);
    payload.setText("vx_sdk_version", SDK_VERSION);
    payload.setText("cfg_id", configId);
}

void TrackingEvent::setIntValue(int32_t number) {
    Payload payload(value, {"value"});
    payload.setNumber("value", number);
}

void TrackingEvent::setStringValue(const std::string& text) {
    Payload payload(value, {"value"});
    payload.setText("value", text);
}

void TrackingEvent::setValueFromJsonText(const std::string& text) {
    if (text.empty() || nestsTooDeep(text)) {
        value = nullptr;
        return;
    }
    // A text that does not parse gives a null value; the event is still sent.
    json parsed = json::parse(text, nullptr, false);
    value = parsed.is_discarded() ? json() : std::move(parsed);
}

}  // namespace Corvex::Tracking
