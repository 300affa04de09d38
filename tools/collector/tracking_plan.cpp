#include "collector/tracking_plan.h"

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "collector/embedded_schemas.h"
#include "collector/schema_check.h"

namespace Corvex::Tracking::Collector {

using nlohmann::json;

namespace {

// Names longer than this are cut before the allow patterns see them, so
// that a pattern's cost stays bounded whatever a host sends.
constexpr size_t MAX_MATCHED_NAME = 256;
constexpr size_t MAX_SHOWN_NAME = 80;

[[noreturn]] void fail(const std::string& source, const std::string& place,
                       const std::string& reason) {
    throw PlanError(source + ": " + (place.empty() ? "/" : place) + ": " + reason);
}

void onlyKeys(const json& object, std::initializer_list<const char*> keys,
              const std::string& source, const std::string& place) {
    for (const auto& [key, member] : object.items()) {
        bool known = false;
        for (const char* allowed : keys) known = known || key == allowed;
        if (!known) fail(source, place + "/" + pointerToken(key), "unknown key \"" + key + "\"");
    }
}

// The library's own events and their value's shape, built once.
const std::map<std::string, SchemaCheck>& builtinShapes() {
    static const std::map<std::string, SchemaCheck> shapes = [] {
        std::map<std::string, SchemaCheck> made;
        const json shapesDocument = json::parse(EmbeddedSchemas::builtinEvents());
        for (const auto& [name, schema] : shapesDocument.items()) {
            made.emplace(name, SchemaCheck(schema));
        }
        return made;
    }();
    return shapes;
}

}  // namespace

nlohmann::json Violation::toJson() const {
    return {{"path", path}, {"rule", rule}, {"value", value}};
}

struct TrackingPlan::State {
    struct Rule {
        std::optional<SchemaCheck> schema;
        bool required = false;
    };
    std::map<std::string, Rule> events;
    std::vector<std::regex> allow;
    std::vector<std::string> warnings;
};

TrackingPlan::TrackingPlan(std::unique_ptr<State> state) : state(std::move(state)) {}
TrackingPlan::TrackingPlan(TrackingPlan&&) noexcept = default;
TrackingPlan& TrackingPlan::operator=(TrackingPlan&&) noexcept = default;
TrackingPlan::~TrackingPlan() = default;

TrackingPlan TrackingPlan::load(const std::string& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) throw PlanError(file + ": cannot be read");
    std::ostringstream text;
    text << input.rdbuf();
    json plan;
    try {
        plan = json::parse(text.str());
    } catch (const json::parse_error& error) {
        // nlohmann's message names the line and column.
        throw PlanError(file + ": not JSON: " + error.what());
    }
    return fromJson(plan, file);
}

TrackingPlan TrackingPlan::fromJson(const json& plan, const std::string& source) {
    auto made = std::make_unique<State>();
    if (!plan.is_object()) fail(source, "", "a plan is an object");
    onlyKeys(plan, {"events", "allow"}, source, "");
    if (plan.contains("events")) {
        const json& events = plan["events"];
        if (!events.is_object()) fail(source, "/events", "an object of event names");
        for (const auto& [name, entry] : events.items()) {
            const std::string place = "/events/" + pointerToken(name);
            if (!entry.is_object())
                fail(source, place, "an object with \"schema\" and \"required\"");
            onlyKeys(entry, {"schema", "required"}, source, place);
            State::Rule rule;
            if (entry.contains("required")) {
                if (!entry["required"].is_boolean())
                    fail(source, place + "/required", "true or false");
                rule.required = entry["required"].get<bool>();
            }
            if (entry.contains("schema")) {
                const json& schema = entry["schema"];
                const std::string schemaPlace = place + "/schema";
                const std::vector<Violation> errors = SchemaCheck::metaschemaErrors(schema);
                if (!errors.empty()) {
                    fail(source, schemaPlace + errors.front().path,
                         "not a valid draft-07 schema: " + errors.front().rule);
                }
                if (const auto bad = SchemaCheck::badPattern(schema, schemaPlace)) {
                    fail(source, bad->first, "not a valid regular expression: " + bad->second);
                }
                try {
                    rule.schema.emplace(schema);
                } catch (const std::exception& error) {
                    fail(source, schemaPlace, std::string("schema not usable: ") + error.what());
                }
                for (const std::string& where :
                     SchemaCheck::unenforcedKeywords(schema, schemaPlace)) {
                    std::string line = source;
                    line += ": " + where;
                    line += ": not enforced by the validator, not checked";
                    made->warnings.push_back(std::move(line));
                }
            }
            made->events.emplace(name, std::move(rule));
        }
    }
    if (plan.contains("allow")) {
        const json& allow = plan["allow"];
        if (!allow.is_array()) fail(source, "/allow", "an array of regular expressions");
        for (size_t i = 0; i < allow.size(); ++i) {
            const std::string place = "/allow/" + std::to_string(i);
            if (!allow[i].is_string()) fail(source, place, "a regular expression as a string");
            try {
                made->allow.emplace_back(allow[i].get<std::string>(), std::regex::ECMAScript);
            } catch (const std::regex_error& error) {
                fail(source, place, std::string("not a valid regular expression: ") + error.what());
            }
        }
    }
    return TrackingPlan(std::move(made));
}

std::vector<Violation> TrackingPlan::check(const std::string& eventName, const json& value) const {
    const auto builtin = builtinShapes().find(eventName);
    const bool own = builtin != builtinShapes().end();
    const auto entry = state->events.find(eventName);
    const bool planned = entry != state->events.end();
    if (!own && !planned) {
        const std::string cut = eventName.substr(0, MAX_MATCHED_NAME);
        for (const std::regex& pattern : state->allow) {
            if (std::regex_search(cut, pattern)) return {};
        }
        std::string shown = eventName.substr(0, MAX_SHOWN_NAME);
        if (shown.size() < eventName.size()) shown += "...";
        return {Violation{"", "not in the plan", shown}};
    }
    // A plan entry for one of the library's own events narrows it: the value
    // must match both shapes (allOf).
    std::vector<Violation> violations;
    if (own) violations = builtin->second.check(value);
    if (planned && entry->second.schema) {
        std::vector<Violation> more = entry->second.schema->check(value);
        violations.insert(violations.end(), more.begin(), more.end());
    }
    return violations;
}

std::vector<std::string> TrackingPlan::requiredEvents() const {
    std::vector<std::string> names;
    for (const auto& [name, rule] : state->events) {
        if (rule.required) names.push_back(name);
    }
    return names;
}

const std::vector<std::string>& TrackingPlan::warnings() const {
    return state->warnings;
}

}  // namespace Corvex::Tracking::Collector
