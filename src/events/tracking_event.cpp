#include "events/tracking_event.h"

#include <cmath>
#include <limits>

#include "core/sdk_version.h"
#include "events/event_catalogue.h"

namespace Corvex::Tracking {

using nlohmann::json;

json TrackingEvent::toJson() const {
    json object = json::object();
    object["eId"] = eId;
    object["eventName"] = eventName;
    object["value"] = value;
    object["id"] = id;
    object["timeInMs"] = timeInMs;
    object["cfgId"] = cfgId;
    object["appVersion"] = appVersion;
    return object;
}

std::string TrackingEvent::toJsonText() const { return toJson().dump(); }

int64_t saturatingMilliseconds(double number) {
    if (std::isnan(number)) return 0;
    // 2^63 is exactly representable; anything at or above it saturates.
    constexpr double LIMIT = 9223372036854775808.0;
    if (number >= LIMIT) return std::numeric_limits<int64_t>::max();
    if (number <= -LIMIT) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(number);
}

namespace {

// A string member, or "" when absent; the JSON library's type error 302 when
// it holds anything but a string. value() raises error 306 for a non-object.
std::string readString(const json& object, const char* key) {
    return object.value(key, std::string());
}

int64_t readTime(const json& object) {
    // value() first, so that a non-object fails the same way as for strings.
    const json member = object.value("timeInMs", json());
    if (member.is_null() && object.find("timeInMs") == object.end()) return 0;
    if (member.is_number_float()) return saturatingMilliseconds(member.get<double>());
    return member.get<int64_t>();  // integers; other types raise error 302
}

}  // namespace

void TrackingEvent::fromJson(const json& object) {
    eId = readString(object, "eId");
    eventName = readString(object, "eventName");
    value = object.value("value", json());
    id = readString(object, "id");
    timeInMs = readTime(object);
    cfgId = readString(object, "cfgId");
    appVersion = readString(object, "appVersion");
}

void TrackingEvent::fromJsonText(const char* text) { fromJson(json::parse(text)); }

void TrackingEvent::setAdValue(const std::string& adUnit, int32_t placementType,
                               int32_t placement) {
    value = json::object();
    value["placement_type"] = Catalogue::adPlacementTypeName(placementType);
    value["placement"] = Catalogue::adPlacementName(placementType, placement);
    value["ad_unit"] = adUnit;
}

void TrackingEvent::setLevelValue(int32_t level, const std::string& label) {
    value = json::object();
    value["level"] = level;
    value["label"] = label;
}

void TrackingEvent::setBootTimeValue(int64_t bootTime) {
    value = json::object();
    value["boot_time"] = bootTime;
}

void TrackingEvent::setIapStatusValue(const std::string& status, int32_t storeType) {
    value = json::object();
    value["status"] = status;
    value["store_type"] = Catalogue::storeTypeName(storeType);
}

void TrackingEvent::setStoreTypeValue(int32_t storeType) {
    value = json::object();
    value["store_type"] = Catalogue::storeTypeName(storeType);
}

void TrackingEvent::setPurchaseValue(const std::string& pack, float price, int32_t amount,
                                     const std::string& currency, int32_t storeType) {
    value = json::object();
    value["pack"] = pack;
    value["price"] = static_cast<double>(price);
    value["amount"] = amount;
    value["currency"] = currency;
    value["store_type"] = Catalogue::storeTypeName(storeType);
}

void TrackingEvent::setFacebookValue(const std::string& facebookId) {
    value = json::object();
    value["facebook_id"] = facebookId;
}

void TrackingEvent::setUpdateValue(const std::string& currentVersion,
                                   const std::string& newVersion) {
    value = json::object();
    value["current_version"] = currentVersion;
    value["new_version"] = newVersion;
}

void TrackingEvent::setSoundModeValue(const std::string& soundMode) {
    value = json::object();
    value["sound_mode"] = soundMode;
}

void TrackingEvent::setTrackingStatusValue(int32_t status) {
    value = json::object();
    value["status"] = Catalogue::trackingStatusName(status);
}

void TrackingEvent::setAccountValue(const std::string& accountId, const std::string& type) {
    value = json::object();
    value["id"] = accountId;
    value["type"] = type;
}

void TrackingEvent::setWalletValue(const std::string& wallet, const std::string& chain) {
    value = json::object();
    value["wallet"] = wallet;
    value["type"] = chain.empty() ? std::string(Catalogue::DEFAULT_CHAIN) : chain;
}

void TrackingEvent::setCryptoPaymentValue(const std::string& pack, float price, int32_t amount,
                                          const std::string& currency,
                                          const std::string& chain) {
    value = json::object();
    value["pack"] = pack;
    value["price"] = static_cast<double>(price);
    value["amount"] = amount;
    value["currency"] = currency.empty() ? std::string(Catalogue::DEFAULT_CURRENCY) : currency;
    value["chain"] = chain.empty() ? std::string(Catalogue::DEFAULT_CHAIN) : chain;
}

void TrackingEvent::setOpenValue(const std::string& address, const std::string& country,
                                 const std::string& deviceModel, const std::string& osVersion,
                                 const std::string& appVersionText,
                                 const std::string& buildNumber, const std::string& configId) {
    value = json::object();
    value["ip_address"] = address;
    value["country"] = country;
    value["device"] = deviceModel;
    value["os_version"] = osVersion;
    value["app_version"] = appVersionText;
    value["build_number"] = buildNumber;
    value["vx_sdk_version"] = SDK_VERSION;
    value["cfg_id"] = configId;
}

void TrackingEvent::setIntValue(int32_t number) {
    value = json::object();
    value["value"] = number;
}

void TrackingEvent::setStringValue(const std::string& text) {
    value = json::object();
    value["value"] = text;
}

void TrackingEvent::setValueFromJsonText(const std::string& text) {
    if (text.empty()) {
        value = nullptr;
        return;
    }
    // A text that does not parse gives a null value; the event is still sent.
    json parsed = json::parse(text, nullptr, false);
    value = parsed.is_discarded() ? json() : std::move(parsed);
}

}  // namespace Corvex::Tracking
