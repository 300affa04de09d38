#include "events/tracking_event.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "base/json_nesting.h"
#include "base/utf8.h"
#include "events/json_object_writer.h"

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
    JsonObjectWriter object(out);
    object.texts({{"appVersion", appVersion},
                  {"cfgId", cfgId},
                  {"eId", eId},
                  {"eventName", eventName},
                  {"id", id}});
    object.integer("timeInMs", timeInMs);
    object.value("value", value);
    object.close();
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

bool TrackingEvent::restoreFromSavedText(const std::string& text) {
    if (text.find('\0') != std::string::npos) return false;
    try {
        fromJsonText(text.c_str());
        queuedText.clear();
        appendJsonText(queuedText);
    } catch (const json::exception&) {
        return false;
    }
    return true;
}

void TrackingEvent::releaseBuffers() {
    value = nullptr;
    // Assigning an empty string would keep the buffer; a swap hands it over.
    for (std::string* text : {&eId, &eventName, &id, &cfgId, &appVersion, &queuedText}) {
        std::string().swap(*text);
    }
}

}  // namespace Corvex::Tracking
