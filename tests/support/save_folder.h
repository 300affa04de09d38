// Reads what a manager saved as the next process would: the entries of the
// queue file, the events they hold and the properties file. inspectSaveFolder
// also says what that process could not use: the properties file must be one
// JSON object whose "userId" is a string, and the queue file must load as
// sound with every entry an event object of exactly the seven members, in
// valid UTF-8.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "queue/event_queue_file.h"

namespace Corvex::Tracking::Testing {

// The texts a new EventQueueFile reads from the path, or nothing when it does
// not open as a sound file or its entries cannot be read.
inline std::optional<std::vector<std::string>> loadTexts(const std::string& path) {
    EventQueueFile file(path);
    if (file.open() != EventQueueFile::OpenResult::Ready) return std::nullopt;
    std::vector<std::string> texts;
    const auto result = file.readEntries([&](std::string&& text) { texts.push_back(text); });
    if (result != EventQueueFile::ReadResult::Ok) return std::nullopt;
    return texts;
}

// Where the folder's queue file is: the one of the first application key on
// the folder unless another file is named.
inline std::string queuePathIn(const std::string& folder,
                               const std::string& queueFile = ".event_queue") {
    return folder + Platform::PATH_SEPARATOR + queueFile;
}

// Every entry of the folder's queue file parsed as JSON (throwing on one that
// is not); none when the file does not load.
inline std::vector<nlohmann::json> savedEvents(const std::string& folder,
                                               const std::string& queueFile = ".event_queue") {
    const auto texts = loadTexts(queuePathIn(folder, queueFile));
    std::vector<nlohmann::json> events;
    for (const std::string& text : texts.value_or(std::vector<std::string>())) {
        events.push_back(nlohmann::json::parse(text));
    }
    return events;
}

inline std::vector<std::string> savedEventNames(const std::string& folder,
                                                const std::string& queueFile = ".event_queue") {
    std::vector<std::string> names;
    for (const auto& event : savedEvents(folder, queueFile)) names.push_back(event["eventName"]);
    return names;
}

inline std::string fileText(const std::string& path) {
    std::string text;
    Platform::readWholeFile(path, text);
    return text;
}

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

// The sound events of the folder, and a line for each thing that is not.
inline SaveFolderReport inspectSaveFolder(const std::string& folder) {
    SaveFolderReport report;
    std::string properties;
    if (Platform::readWholeFile(folder + Platform::PATH_SEPARATOR + ".properties", properties)) {
        const auto document = nlohmann::json::parse(properties, nullptr, false);
        if (document.is_discarded() || !document.is_object()) {
            report.problems += "properties: not a JSON object\n";
        } else if (document.contains("userId") && !document["userId"].is_string()) {
            report.problems += "properties: userId is not a string\n";
        }
    }
    const std::string queuePath = queuePathIn(folder);
    if (!Platform::fileExists(queuePath)) return report;
    const auto texts = loadTexts(queuePath);
    if (!texts) {
        report.problems += "queue: does not load as sound\n";
        return report;
    }
    for (size_t index = 0; index < texts->size(); ++index) {
        const auto event = nlohmann::json::parse((*texts)[index], nullptr, false);
        const std::string problem = event.is_discarded() ? "not JSON" : eventProblem(event);
        if (problem.empty()) {
            report.events.push_back(event);
        } else {
            report.problems += "queue entry " + std::to_string(index) + ": " + problem + "\n";
        }
    }
    return report;
}

}  // namespace Corvex::Tracking::Testing
