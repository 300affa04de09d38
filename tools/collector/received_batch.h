// The body of an event request, checked member by member: the seven
// properties and the events under "subMessages", each with its seven
// members, all present and of their types, and nothing else.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace Corvex::Tracking::Collector {

struct ReceivedEvent {
    std::string eId;
    std::string eventName;
    nlohmann::json value;
    std::string sessionId;  // the member "id"
    int64_t timeInMs = 0;
    std::string cfgId;
    std::string appVersion;

    // The event's own object, as it came: the seven members.
    nlohmann::json toJson() const;
};

struct ReceivedBatch {
    std::string vxUid;
    std::string vxSdkVersion;
    std::string bundleId;
    std::string country;
    std::string device;
    std::string platform;
    std::string osVersion;
    std::vector<ReceivedEvent> events;

    // Reads a request body. Returns "" when it is a valid batch, else a
    // short reason for refusing it ("subMessages[2].timeInMs: not an
    // integer"); the batch is complete only in the first case.
    static std::string parse(const std::string& body, ReceivedBatch& batch);
};

}  // namespace Corvex::Tracking::Collector
