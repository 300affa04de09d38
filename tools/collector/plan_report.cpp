#include "collector/plan_report.h"

#include <algorithm>
#include <sstream>

#include "collector/event_report.h"

namespace Corvex::Tracking::Collector {

PlanReport::PlanReport(const TrackingPlan& checkedPlan) : plan(checkedPlan) {}

void PlanReport::add(const std::string& eventName, const nlohmann::json& value) {
    ++checkedEvents;
    ++seen[eventName];
    const std::vector<Violation> violations = plan.check(eventName, value);
    if (!violations.empty()) ++badEvents;
    for (const Violation& violation : violations) {
        Finding& finding = grouped[{eventName, violation.path, violation.rule}];
        if (finding.events++ == 0) {
            finding.event = eventName;
            finding.violation = violation;
        }
    }
}

bool PlanReport::passed(bool allowEmpty) const {
    return grouped.empty() && missingRequired().empty() && (allowEmpty || checkedEvents > 0);
}

std::vector<PlanReport::Finding> PlanReport::findings() const {
    std::vector<Finding> list;
    for (const auto& entry : grouped) list.push_back(entry.second);
    std::stable_sort(list.begin(), list.end(),
                     [](const Finding& a, const Finding& b) { return a.events > b.events; });
    return list;
}

std::vector<std::string> PlanReport::missingRequired() const {
    std::vector<std::string> missing;
    for (const std::string& name : plan.requiredEvents()) {
        if (seen.count(name) == 0) missing.push_back(name);
    }
    return missing;
}

nlohmann::json PlanReport::toJson(bool allowEmpty) const {
    nlohmann::json violations = nlohmann::json::array();
    for (const Finding& finding : findings()) {
        nlohmann::json entry = finding.violation.toJson();
        entry["event"] = finding.event;
        entry["events"] = finding.events;
        violations.push_back(std::move(entry));
    }
    return {{"passed", passed(allowEmpty)},
            {"events", checkedEvents},
            {"badEvents", badEvents},
            {"violations", violations},
            {"missingRequired", missingRequired()},
            {"warnings", plan.warnings()}};
}

std::string PlanReport::toText(bool allowEmpty) const {
    std::ostringstream text;
    for (const std::string& warning : plan.warnings()) text << "warning: " << warning << "\n";
    for (const Finding& finding : findings()) {
        // Event names and values come from the network: made safe to print.
        text << terminalCell(finding.event, 80) << "  "
             << (finding.violation.path.empty() ? "(value)"
                                                : terminalCell(finding.violation.path, 80))
             << "  " << terminalCell(finding.violation.rule, 160) << "\n"
             << "    e.g. " << terminalCell(finding.violation.value, 100) << "  (" << finding.events
             << (finding.events == 1 ? " event" : " events") << ")\n";
    }
    for (const std::string& name : missingRequired()) {
        text << terminalCell(name, 80) << "  required, never sent\n";
    }
    if (checkedEvents == 0)
        text << "no events stored" << (allowEmpty ? "" : " (--allow-empty accepts that)") << "\n";
    text << (passed(allowEmpty) ? "passed: " : "failed: ") << checkedEvents << " events checked, "
         << badEvents << " break the plan, " << missingRequired().size()
         << " required events never sent\n";
    return text.str();
}

}  // namespace Corvex::Tracking::Collector
