// Reads what a manager saved: the events in its queue file and its
// properties file, for tests that check what was tracked.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "queue/event_queue_file.h"

namespace Corvex::Tracking::Testing {

inline std::vector<nlohmann::json> savedEvents(const std::string& folder) {
    std::vector<nlohmann::json> events;
    EventQueueFile file(folder + Platform::PATH_SEPARATOR + ".event_queue");
    if (file.open() != EventQueueFile::OpenResult::Ready) return events;
    file.readEntries([&](std::string&& text) { events.push_back(nlohmann::json::parse(text)); });
    return events;
}

inline std::vector<std::string> savedEventNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& event : savedEvents(folder)) names.push_back(event["eventName"]);
    return names;
}

inline std::string fileText(const std::string& path) {
    std::string text;
    Platform::readWholeFile(path, text);
    return text;
}

}  // namespace Corvex::Tracking::Testing
