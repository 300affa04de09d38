// A tracking plan: which events a game may send and what each one's value
// holds, as JSON Schema (draft 7). The collector checks every stored event
// against it and keeps the reasons of each bad one.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace Corvex::Tracking::Collector {

// One reason an event breaks the plan.
struct Violation {
    std::string path;   // JSON pointer into the event's value ("" for the whole value)
    std::string rule;   // the rule broken, e.g. "type: expected integer", "not in the plan"
    std::string value;  // the offending value, compact JSON cut to a readable length

    nlohmann::json toJson() const;  // {"path":..,"rule":..,"value":..}
};

class TrackingPlan {
public:
    // Reads and checks the plan file. Throws PlanError naming the file and
    // the place (a JSON pointer or a line and column) for bad JSON, an
    // unknown key, a schema that is not valid draft 7 or a pattern that is
    // not a valid regular expression.
    static TrackingPlan load(const std::string& file);
    // The same from a document; `source` names it in errors.
    static TrackingPlan fromJson(const nlohmann::json& plan, const std::string& source);

    TrackingPlan(TrackingPlan&&) noexcept;
    TrackingPlan& operator=(TrackingPlan&&) noexcept;
    ~TrackingPlan();

    // The reasons the event breaks the plan; empty for a good event.
    std::vector<Violation> check(const std::string& eventName, const nlohmann::json& value) const;
    // The events a run must send at least once.
    std::vector<std::string> requiredEvents() const;
    // Keywords of the plan's schemas that the validator does not enforce
    // (such as "format"), one line each naming the place.
    const std::vector<std::string>& warnings() const;

private:
    struct State;
    explicit TrackingPlan(std::unique_ptr<State> state);
    std::unique_ptr<State> state;
};

class PlanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace Corvex::Tracking::Collector
