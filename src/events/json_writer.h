// Compact JSON text written straight into a caller's string, byte for byte
// what the JSON library's dump() gives (raw UTF-8, the library's escapes and
// number forms, strict UTF-8 checking), without building a document first.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace Corvex::Tracking {

// Appends the text as a JSON string. Invalid UTF-8 raises the JSON library's
// type error 316 with its own message.
void appendJsonString(std::string& out, std::string_view text);
void appendJsonInteger(std::string& out, int64_t number);
// Appends the value's compact text; throws as appendJsonString does.
void appendJsonValue(std::string& out, const nlohmann::json& value);

}  // namespace Corvex::Tracking
