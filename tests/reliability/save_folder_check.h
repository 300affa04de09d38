// Reads a save folder as the next process would, and says what it could not
// use: the properties file must be one JSON object whose "userId" is a string,
// and the queue file must open as sound with every entry an event object of
// exactly the seven members, in valid UTF-8.
#pragma once

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "queue/event_queue_file.h"

namespace Corvex::Tracking::Testing {

struct SaveFolderReport {
    std::string problems;  // one line per problem; empty when sound
    std::vector<nlohmann::json> events;
};

inline std::string eventProblem(const nlohmann::json& event) {
    static const std::set<std::string> keys = {"appVersion", "cfgId",    "eId",  "eventName",
                                               "id",         "timeInMs", "value"};
    if (!event.is_object()) return "not an object";
    std::set<std::string> present;
    for (const auto& item : event.items()) present.insert(item.key());
    if (present != keys) return "members differ";
    for (const char* key : {"appVersion", "cfgId", "eId", "eventName", "id"}) {
        if (!event[key].is_string()) return std::string(key) + " is not a string";
    }
    if (!event["timeInMs"].is_number_integer()) return "timeInMs is not an integer";
    return "";
}

inline SaveFolderReport inspectSaveFolder(const std::string& folder) {
    SaveFolderReport report;
    const std::string separator(1, Platform::PATH_SEPARATOR);
    std::string properties;
    if (Platform::readWholeFile(folder + separator + ".properties", properties)) {
        const auto document = nlohmann::json::parse(properties, nullptr, false);
        if (document.is_discarded() || !document.is_object()) {
            report.problems += "properties: not a JSON object\n";
        } else if (document.contains("userId") && !document["userId"].is_string()) {
            report.problems += "properties: userId is not a string\n";
        }
    }
    const std::string queuePath = folder + separator + ".event_queue";
    if (!Platform::fileExists(queuePath)) return report;
    EventQueueFile file(queuePath);
    if (file.open() != EventQueueFile::OpenResult::Ready) {
        report.problems += "queue: does not open as sound\n";
        return report;
    }
    size_t index = 0;
    const auto result = file.readEntries([&](std::string&& text) {
        const auto event = nlohmann::json::parse(text, nullptr, false);
        const std::string problem = event.is_discarded() ? "not JSON" : eventProblem(event);
        if (problem.empty()) {
            report.events.push_back(event);
        } else {
            report.problems += "queue entry " + std::to_string(index) + ": " + problem + "\n";
        }
        ++index;
    });
    if (result != EventQueueFile::ReadResult::Ok) report.problems += "queue: entries unreadable\n";
    return report;
}

}  // namespace Corvex::Tracking::Testing
