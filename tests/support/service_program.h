// What a corvex-test-service program running beside the tests received, read
// from the file it writes: its address line, then one JSON line per request.
// For test programs that cannot link the service (the Windows ones) or that
// link only the shared library: support/test_services.sh starts an
// "accepting" (200) and a "refusing" (503) program for a CTest fixture and
// the tests find their folder in CORVEX_TEST_SERVICES.
#pragma once

#include <cstddef>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace Corvex::Tracking::Testing {

// The first value of a header of a recorded request, by case-insensitive name.
std::string headerOf(const nlohmann::json& request, const std::string& name);
// How many of the events carry each "eventName".
std::map<std::string, int> eventNameCounts(const std::vector<nlohmann::json>& events);

class ServiceProgram {
public:
    // The program of that name; requests that came before are not counted.
    explicit ServiceProgram(const std::string& name);

    bool running() const { return !proxyUrl.empty(); }

    // The requests with that Authorization header since this object was made,
    // in arrival order.
    std::vector<nlohmann::json> requestsWith(const std::string& authorization) const;
    // The events in the bodies of those requests.
    std::vector<nlohmann::json> eventsWith(const std::string& authorization) const;
    // Those events once there are count of them, or after 60 s.
    std::vector<nlohmann::json> waitForEvents(const std::string& authorization, size_t count) const;

    std::string proxyUrl;
    // As the test program sees it (on drive Z: under Wine).
    std::string caFile;

private:
    // Every complete line; the service may be writing the last one.
    std::vector<nlohmann::json> readLines() const;

    std::string log;
    // Lines written before this object was made: earlier tests' requests.
    size_t seen = 0;
};

}  // namespace Corvex::Tracking::Testing
