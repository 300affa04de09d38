#include "events/tracking_event.h"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string_view>

#include "core/sdk_version.h"
#include "core/utf8.h"
#include "events/event_catalogue.h"
#include "events/json_writer.h"

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

std::string TrackingEvent::toJsonText() const {
    std::string text;
    appendJsonText(text);
    return text;
}

// The members in key order, as toJson().dump() lists them.
void TrackingEvent::appendJsonText(std::string& out) const {
    out += "{\"appVersion\":";
    appendJsonString(out, appVersion);
    out += ",\"cfgId\":";
    appendJsonString(out, cfgId);
    out += ",\"eId\":";
    appendJsonString(out, eId);
    out += ",\"eventName\":";
    appendJsonString(out, eventName);
    out += ",\"id\":";
    appendJsonString(out, id);
    out += ",\"timeInMs\":";
    appendJsonInteger(out, timeInMs);
    out += ",\"value\":";
    appendJsonValue(out, value);
    out += '}';
}

bool nestsTooDeep(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;  // the escaped character
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

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

// Fills a payload object with exactly the given members. A recycled record
// whose payload has the same members keeps them and their string buffers, so
// that refilling it allocates nothing; any other value is replaced.
class Payload {
public:
    Payload(json& value, std::initializer_list<const char*> keys) : value(value) {
        bool same = value.is_object() && value.size() == keys.size();
        for (auto key = keys.begin(); same && key != keys.end(); ++key) same = value.contains(*key);
        if (!same) value = json::object();
    }

    void setText(const char* key, std::string_view text) {
        json& slot = member(key);
        if (slot.is_string()) {
            slot.get_ref<std::string&>().assign(text.data(), text.size());
        } else {
            slot = std::string(text);
        }
    }

    template <typename Number>
    void setNumber(const char* key, Number number) {
        member(key) = number;
    }

private:
    // operator[] would make a map node even for a key that exists.
    json& member(const char* key) {
        const auto found = value.find(key);
        return found != value.end() ? *found : value[key];
    }

    json& value;
};

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

namespace {

// Reads a text in exactly the form appendJsonText writes: the seven members
// in key order, strings without escapes, the time as a plain integer. Only
// the value goes through the JSON parser. Gives false, with the record
// untouched, for any other text, which the general road then reads.
class CanonicalText {
public:
    explicit CanonicalText(std::string_view text) : text(text) {}

    bool readInto(TrackingEvent& event) {
        std::string_view appVersion, cfgId, eId, eventName, id;
        int64_t timeInMs = 0;
        if (!literal("{\"appVersion\":") || !string(appVersion) || !literal(",\"cfgId\":") ||
            !string(cfgId) || !literal(",\"eId\":") || !string(eId) ||
            !literal(",\"eventName\":") || !string(eventName) || !literal(",\"id\":") ||
            !string(id) || !literal(",\"timeInMs\":") || !integer(timeInMs) ||
            !literal(",\"value\":") || text.size() < at + 2 || text.back() != '}') {
            return false;
        }
        const std::string_view valueText = text.substr(at, text.size() - at - 1);
        json value = json::parse(valueText.begin(), valueText.end(), nullptr, false);
        if (value.is_discarded()) return false;
        event.eId.assign(eId.data(), eId.size());
        event.eventName.assign(eventName.data(), eventName.size());
        event.value = std::move(value);
        event.id.assign(id.data(), id.size());
        event.timeInMs = timeInMs;
        event.cfgId.assign(cfgId.data(), cfgId.size());
        event.appVersion.assign(appVersion.data(), appVersion.size());
        return true;
    }

private:
    bool literal(std::string_view expected) {
        if (text.substr(at, expected.size()) != expected) return false;
        at += expected.size();
        return true;
    }

    // A string without escapes or control characters, valid UTF-8, as the
    // strict parser would accept it.
    bool string(std::string_view& out) {
        if (at >= text.size() || text[at] != '"') return false;
        const size_t start = ++at;
        for (; at < text.size(); ++at) {
            const auto c = static_cast<unsigned char>(text[at]);
            if (c == '"') {
                out = text.substr(start, at - start);
                ++at;
                return isValidUtf8(out);
            }
            if (c == '\\' || c < 0x20) return false;
        }
        return false;
    }

    // A signed 64-bit integer in the writer's form: no leading zero, no -0.
    bool integer(int64_t& out) {
        const char* first = text.data() + at;
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, out);
        if (error != std::errc()) return false;
        const bool negative = *first == '-';
        const auto length = static_cast<size_t>(end - first);
        if (first[negative ? 1 : 0] == '0' && (negative || length > 1)) return false;
        at += length;
        return true;
    }

    std::string_view text;
    size_t at = 0;
};

}  // namespace

void TrackingEvent::fromJsonText(const char* text) {
    if (nestsTooDeep(text, MAX_JSON_DEPTH + 1)) {
        throw json::parse_error::create(101, 0, "nesting deeper than the limit", nullptr);
    }
    // The queue's own texts are read without a document for the whole record.
    if (CanonicalText(text).readInto(*this)) return;
    fromJson(json::parse(text));
}

void TrackingEvent::releaseBuffers() {
    value = nullptr;
    // Assigning an empty string would keep the buffer; a swap hands it over.
    for (std::string* text : {&eId, &eventName, &id, &cfgId, &appVersion, &queuedText}) {
        std::string().swap(*text);
    }
}

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
