// What `corvex-collector check` finds: the stored events checked against a
// tracking plan, their violations grouped by event name, path and rule, and
// the required events never seen.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "collector/tracking_plan.h"

namespace Corvex::Tracking::Collector {

class PlanReport {
public:
    struct Finding {
        std::string event;
        Violation violation;  // its value is the first example seen
        int64_t events = 0;   // how many events share the event name, path and rule
    };

    explicit PlanReport(const TrackingPlan& plan);

    void add(const std::string& eventName, const nlohmann::json& value);

    // True when every event was good, every required event was seen and,
    // unless allowEmpty, at least one event was checked.
    bool passed(bool allowEmpty) const;

    std::vector<Finding> findings() const;  // most frequent first
    std::vector<std::string> missingRequired() const;
    int64_t checked() const { return checkedEvents; }

    // {"passed":..,"events":..,"badEvents":..,"violations":[{"event","path",
    //  "rule","value","events"}],"missingRequired":[..],"warnings":[..]}
    nlohmann::json toJson(bool allowEmpty) const;
    // One line per finding and per missing event, then a summary line.
    std::string toText(bool allowEmpty) const;

private:
    const TrackingPlan& plan;
    std::map<std::tuple<std::string, std::string, std::string>, Finding> grouped;
    std::map<std::string, int64_t> seen;
    int64_t checkedEvents = 0;
    int64_t badEvents = 0;
};

}  // namespace Corvex::Tracking::Collector
