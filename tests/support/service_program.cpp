#include "support/service_program.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

using nlohmann::json;
using namespace std::chrono_literals;

namespace Corvex::Tracking::Testing {

namespace {

// A build machine path as the test program sees it: on drive Z: under Wine.
std::string programPath(std::string path) {
#if defined(_WIN32)
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return "Z:" + path;
#else
    return path;
#endif
}

}  // namespace

std::map<std::string, int> eventNameCounts(const std::vector<nlohmann::json>& events) {
    std::map<std::string, int> counts;
    for (const nlohmann::json& event : events) ++counts[event["eventName"].get<std::string>()];
    return counts;
}

std::string headerOf(const json& request, const std::string& name) {
    for (const json& header : request["headers"]) {
        const std::string key = header[0];
        if (key.size() == name.size() &&
            std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return header[1];
        }
    }
    return "";
}

ServiceProgram::ServiceProgram(const std::string& name) {
    const char* folder = std::getenv("CORVEX_TEST_SERVICES");
    if (folder != nullptr) log = programPath(std::string(folder) + "/" + name + ".jsonl");
    const std::vector<json> lines = readLines();
    if (lines.empty()) return;
    proxyUrl = lines[0].value("proxyUrl", "");
    caFile = programPath(lines[0].value("caFile", ""));
    seen = lines.size();
}

std::vector<json> ServiceProgram::requestsWith(const std::string& authorization) const {
    std::vector<json> mine;
    const std::vector<json> lines = readLines();
    for (size_t i = seen; i < lines.size(); ++i) {
        if (headerOf(lines[i], "Authorization") == authorization) mine.push_back(lines[i]);
    }
    return mine;
}

std::vector<json> ServiceProgram::eventsWith(const std::string& authorization) const {
    std::vector<json> events;
    for (const json& request : requestsWith(authorization)) {
        const json body = json::parse(request["body"].get<std::string>());
        for (const json& event : body["subMessages"]) events.push_back(event);
    }
    return events;
}

std::vector<json> ServiceProgram::waitForEvents(const std::string& authorization,
                                                size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    std::vector<json> events = eventsWith(authorization);
    while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        events = eventsWith(authorization);
    }
    return events;
}

std::vector<json> ServiceProgram::readLines() const {
    std::vector<json> lines;
    std::ifstream file(log, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        if (file.eof()) break;  // no line feed yet
        lines.push_back(json::parse(line));
    }
    return lines;
}

}  // namespace Corvex::Tracking::Testing
