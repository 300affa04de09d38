// Compact JSON text written straight into a caller's string, byte for byte
// what the JSON library's dump() gives (raw UTF-8, the library's escapes and
// number forms, strict UTF-8 checking), without building a document first.
#pragma once

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace Corvex::Tracking {

// True when no byte of the text needs an escape or lies outside ASCII: most
// texts of an event, which are then copied whole.
bool isPlainAscii(std::string_view text);

// Room for n more bytes at the end of out, for the caller to fill: a run of
// small pieces then costs one length check instead of one per piece.
inline char* appendRoom(std::string& out, size_t n) {
    const size_t at = out.size();
    out.resize(at + n);
    return out.data() + at;
}
// Copies the piece to `to` and gives the byte after it.
inline char* put(char* to, std::string_view piece) {
    std::memcpy(to, piece.data(), piece.size());
    return to + piece.size();
}

// Appends the text as a JSON string. Invalid UTF-8 raises the JSON library's
// type error 316 with its own message.
void appendJsonString(std::string& out, std::string_view text);
void appendJsonInteger(std::string& out, int64_t number);
// Appends the value's compact text; throws as appendJsonString does.
void appendJsonValue(std::string& out, const nlohmann::json& value);

}  // namespace Corvex::Tracking
