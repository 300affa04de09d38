// One JSON Schema (draft 7), compiled once by valijson, that checks values
// and names each reason a value breaks it. TrackingPlan and the schema test
// suite share it, so the suite tests the plan's own validation path.
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "collector/tracking_plan.h"

namespace Corvex::Tracking::Collector {

class SchemaCheck {
public:
    // The document a "$ref" to another URI names; nullopt when unknown.
    using Fetch = std::function<std::optional<nlohmann::json>(const std::string& uri)>;

    // Throws std::runtime_error when valijson cannot compile the schema
    // (such as a "$ref" it cannot resolve).
    explicit SchemaCheck(const nlohmann::json& schema, const Fetch& fetch = {});
    SchemaCheck(SchemaCheck&&) noexcept;
    SchemaCheck& operator=(SchemaCheck&&) noexcept;
    ~SchemaCheck();

    // The reasons the value breaks the schema; empty for a good value.
    std::vector<Violation> check(const nlohmann::json& value) const;

    // The reasons the schema is not a valid draft-07 schema, checked against
    // the draft-07 metaschema (the installed file embedded at build time).
    static std::vector<Violation> metaschemaErrors(const nlohmann::json& schema);

    // The places (JSON pointers under `place`) of keywords valijson reads
    // but does not enforce: "format" other than date, time and date-time,
    // "contentMediaType" and "contentEncoding".
    static std::vector<std::string> unenforcedKeywords(const nlohmann::json& schema,
                                                       const std::string& place);

    // The place and reason of the first "pattern" or "patternProperties"
    // key that std::regex (which valijson uses when it validates) refuses;
    // nullopt when they all compile.
    static std::optional<std::pair<std::string, std::string>> badPattern(
        const nlohmann::json& schema, const std::string& place);

private:
    struct State;
    std::unique_ptr<State> state;
};

// Compact JSON cut to `limit` characters, with "..." when cut.
std::string shortJson(const nlohmann::json& value, size_t limit = 80);
// A key as one token of a JSON pointer ("~" as "~0", "/" as "~1").
std::string pointerToken(const std::string& key);

}  // namespace Corvex::Tracking::Collector
