#include "collector/received_batch.h"

#include <limits>

namespace Corvex::Tracking::Collector {

namespace {

using nlohmann::json;

enum class Kind { String, Integer, Array, Any };

struct Member {
    const char* key;
    Kind kind;
};

constexpr Member BODY_MEMBERS[] = {
    {"vxUid", Kind::String},     {"vxSdkVersion", Kind::String}, {"bundleId", Kind::String},
    {"country", Kind::String},   {"device", Kind::String},       {"platform", Kind::String},
    {"osVersion", Kind::String}, {"subMessages", Kind::Array},
};

constexpr Member EVENT_MEMBERS[] = {
    {"eId", Kind::String},        {"eventName", Kind::String}, {"value", Kind::Any},
    {"id", Kind::String},         {"timeInMs", Kind::Integer}, {"cfgId", Kind::String},
    {"appVersion", Kind::String},
};

// A member name as JSON text, so that whatever it holds stays one short,
// printable token in the reason.
std::string quoted(const std::string& key) {
    return json(key).dump();
}

bool hasKind(const json& value, Kind kind) {
    switch (kind) {
        case Kind::String: return value.is_string();
        case Kind::Integer:
            if (value.is_number_unsigned()) {
                return value.get<uint64_t>() <=
                       static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
            }
            return value.is_number_integer();
        case Kind::Array: return value.is_array();
        case Kind::Any: return true;
    }
    return false;
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::String: return "a string";
        case Kind::Integer: return "a 64-bit integer";
        case Kind::Array: return "an array";
        case Kind::Any: break;
    }
    return "a value";
}

// "" when the object has exactly the members, each of its kind; else the
// reason, naming where the object is ("" for the body itself).
template <size_t N>
std::string checkMembers(const json& object, const Member (&members)[N], const std::string& where) {
    const std::string in = where.empty() ? "" : where + ": ";
    const std::string path = where.empty() ? "" : where + ".";
    for (const Member& member : members) {
        const auto found = object.find(member.key);
        if (found == object.end()) return in + "missing member " + quoted(member.key);
        if (!hasKind(*found, member.kind)) {
            return path + member.key + " is not " + kindName(member.kind);
        }
    }
    for (const auto& item : object.items()) {
        bool known = false;
        for (const Member& member : members) known = known || item.key() == member.key;
        if (!known) return in + "unexpected member " + quoted(item.key());
    }
    return "";
}

}  // namespace

json ReceivedEvent::toJson() const {
    return {{"eId", eId},
            {"eventName", eventName},
            {"value", value},
            {"id", sessionId},
            {"timeInMs", timeInMs},
            {"cfgId", cfgId},
            {"appVersion", appVersion}};
}

std::string ReceivedBatch::parse(const std::string& body, ReceivedBatch& batch) {
    json document;
    try {
        document = json::parse(body);
    } catch (const json::parse_error& error) {
        return "body is not JSON (error at byte " + std::to_string(error.byte) + ")";
    }
    if (!document.is_object()) return "body is not a JSON object";
    if (std::string reason = checkMembers(document, BODY_MEMBERS, ""); !reason.empty()) {
        return reason;
    }
    const json& events = document["subMessages"];
    for (size_t i = 0; i < events.size(); ++i) {
        const std::string where = "subMessages[" + std::to_string(i) + "]";
        if (!events[i].is_object()) return where + " is not an object";
        if (std::string reason = checkMembers(events[i], EVENT_MEMBERS, where); !reason.empty()) {
            return reason;
        }
        if (events[i]["eId"].get_ref<const std::string&>().empty()) return where + ".eId is empty";
    }

    batch.vxUid = document["vxUid"];
    batch.vxSdkVersion = document["vxSdkVersion"];
    batch.bundleId = document["bundleId"];
    batch.country = document["country"];
    batch.device = document["device"];
    batch.platform = document["platform"];
    batch.osVersion = document["osVersion"];
    batch.events.clear();
    for (const json& event : events) {
        batch.events.push_back({event["eId"], event["eventName"], event["value"], event["id"],
                                event["timeInMs"].get<int64_t>(), event["cfgId"],
                                event["appVersion"]});
    }
    return "";
}

}  // namespace Corvex::Tracking::Collector
