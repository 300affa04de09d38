#include "collector/schema_check.h"

// valijson reports a schema it cannot compile by throwing, not by aborting.
#define VALIJSON_USE_EXCEPTIONS 1

#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

#include <regex>

#include "collector/embedded_schemas.h"

namespace Corvex::Tracking::Collector {

using nlohmann::json;

namespace {

// valijson's summaries of a failure inside a child: the child's own error,
// reported with it, already says what is wrong.
bool isSummary(const std::string& description) {
    static const char* const prefixes[] = {
        "Failed to validate against schema associated with property name",
        "Failed to validate against schema associated with pattern",
        "Failed to validate item #",
        "Failed to validate against child schema #",
        "Failed to validate against additional properties schema",
        "Failed to validate against dependent schema",
        "Cannot validate item #",
    };
    for (const char* prefix : prefixes) {
        if (description.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// valijson's context ("<root>", "[name]", "[0]") as a JSON pointer.
std::string pointerOf(const std::vector<std::string>& context) {
    std::string pointer;
    for (const std::string& part : context) {
        if (part.size() < 2 || part.front() != '[' || part.back() != ']') continue;
        pointer += '/' + pointerToken(part.substr(1, part.size() - 2));
    }
    return pointer;
}

const char* typeName(const json& value) {
    if (value.is_number_integer()) return "integer";
    return value.type_name();
}

std::vector<Violation> violationsOf(valijson::ValidationResults& results, const json& value) {
    std::vector<Violation> violations;
    std::vector<valijson::ValidationResults::Error> errors;
    valijson::ValidationResults::Error error;
    while (results.popError(error)) errors.push_back(error);
    bool detailed = false;
    for (const auto& each : errors) detailed = detailed || !isSummary(each.description);
    for (const auto& each : errors) {
        // A summary is kept only when it is all there is (a "false" schema).
        if (detailed && isSummary(each.description)) continue;
        const valijson::ValidationResults::Error& error = each;
        Violation violation;
        violation.path = pointerOf(error.context);
        violation.rule = error.description;
        if (!violation.rule.empty() && violation.rule.back() == '.') violation.rule.pop_back();
        const json::json_pointer pointer(violation.path);
        const json& found = value.contains(pointer) ? value.at(pointer) : value;
        if (violation.rule.rfind("Value type not permitted", 0) == 0) {
            violation.rule += std::string(" (got ") + typeName(found) + ")";
        }
        violation.value = shortJson(found);
        violations.push_back(std::move(violation));
    }
    return violations;
}

}  // namespace

std::string pointerToken(const std::string& key) {
    std::string token;
    for (const char c : key) {
        if (c == '~') {
            token += "~0";
        } else if (c == '/') {
            token += "~1";
        } else {
            token += c;
        }
    }
    return token;
}

std::string shortJson(const json& value, size_t limit) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() <= limit) return text;
    size_t cut = limit > 3 ? limit - 3 : 0;
    // Never cut a UTF-8 sequence in two.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

struct SchemaCheck::State {
    valijson::Schema schema;
};

SchemaCheck::SchemaCheck(const json& schema, const Fetch& fetch)
    : state(std::make_unique<State>()) {
    valijson::SchemaParser parser(valijson::SchemaParser::kDraft7);
    valijson::adapters::NlohmannJsonAdapter adapter(schema);
    if (!fetch) {
        parser.populateSchema(adapter, state->schema);
        return;
    }
    const auto fetchDocument = [&fetch](const std::string& uri) -> const json* {
        std::optional<json> document = fetch(uri);
        return document ? new json(std::move(*document)) : nullptr;
    };
    const auto freeDocument = [](const json* document) { delete document; };
    parser.populateSchema(adapter, state->schema, fetchDocument, freeDocument);
}

SchemaCheck::SchemaCheck(SchemaCheck&&) noexcept = default;
SchemaCheck& SchemaCheck::operator=(SchemaCheck&&) noexcept = default;
SchemaCheck::~SchemaCheck() = default;

std::vector<Violation> SchemaCheck::check(const json& value) const {
    valijson::Validator validator;
    valijson::ValidationResults results;
    valijson::adapters::NlohmannJsonAdapter target(value);
    try {
        if (validator.validate(state->schema, target, &results)) return {};
    } catch (const std::exception& error) {
        // Such as std::regex giving up on a long value: the value is not
        // known to be good.
        return {{"", std::string("could not be checked: ") + error.what(), shortJson(value)}};
    }
    std::vector<Violation> violations = violationsOf(results, value);
    // The "false" schema fails with no reason of its own.
    if (violations.empty())
        violations.push_back({"", "no value is allowed here", shortJson(value)});
    return violations;
}

std::vector<Violation> SchemaCheck::metaschemaErrors(const json& schema) {
    static const SchemaCheck metaschema(json::parse(EmbeddedSchemas::draft7Metaschema()));
    return metaschema.check(schema);
}

std::vector<std::string> SchemaCheck::unenforcedKeywords(const json& schema,
                                                         const std::string& place) {
    std::vector<std::string> places;
    if (schema.is_array()) {
        for (size_t i = 0; i < schema.size(); ++i) {
            const auto inner = unenforcedKeywords(schema[i], place + "/" + std::to_string(i));
            places.insert(places.end(), inner.begin(), inner.end());
        }
        return places;
    }
    if (!schema.is_object()) return places;
    for (const auto& [key, member] : schema.items()) {
        const std::string memberPlace = place + "/" + pointerToken(key);
        if (key == "format" && member.is_string()) {
            const std::string& format = member.get_ref<const std::string&>();
            if (format != "date" && format != "time" && format != "date-time") {
                std::string line = memberPlace;
                line += " (\"" + format + "\")";
                places.push_back(std::move(line));
            }
        } else if (key == "contentMediaType" || key == "contentEncoding") {
            places.push_back(memberPlace);
        }
        // "enum", "const", "examples" and "default" hold values, not schemas.
        if (key != "enum" && key != "const" && key != "examples" && key != "default") {
            const auto inner = unenforcedKeywords(member, memberPlace);
            places.insert(places.end(), inner.begin(), inner.end());
        }
    }
    return places;
}

std::optional<std::pair<std::string, std::string>> SchemaCheck::badPattern(
    const json& schema, const std::string& place) {
    const auto compiles = [](const std::string& pattern) -> std::optional<std::string> {
        try {
            std::regex(pattern, std::regex::ECMAScript);
        } catch (const std::regex_error& error) {
            return std::string(error.what());
        }
        return std::nullopt;
    };
    if (!schema.is_object() && !schema.is_array()) return std::nullopt;
    for (const auto& [key, member] : schema.items()) {
        const std::string memberPlace = place + "/" + pointerToken(key);
        if (schema.is_object() &&
            (key == "enum" || key == "const" || key == "examples" || key == "default")) {
            continue;
        }
        if (schema.is_object() && key == "pattern" && member.is_string()) {
            if (auto reason = compiles(member.get<std::string>())) {
                return std::make_pair(memberPlace, *reason);
            }
        }
        if (schema.is_object() && key == "patternProperties" && member.is_object()) {
            for (const auto& [pattern, inner] : member.items()) {
                if (auto reason = compiles(pattern)) {
                    return std::make_pair(memberPlace + "/" + pointerToken(pattern), *reason);
                }
            }
        }
        if (auto found = badPattern(member, memberPlace)) return found;
    }
    return std::nullopt;
}

}  // namespace Corvex::Tracking::Collector
