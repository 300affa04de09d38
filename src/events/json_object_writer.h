// One compact JSON object written member by member into a caller's string:
// the event's text and the request body. Members must be added in key order,
// the order the JSON library's dump() lists them in, so that the text is
// byte for byte the dump of the same document.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "events/json_writer.h"

namespace Corvex::Tracking {

class JsonObjectWriter {
public:
    explicit JsonObjectWriter(std::string& out) : out(out) { out += '{'; }

    // Each throws as appendJsonString does for invalid UTF-8; out keeps what
    // was appended before the fault. Keys are written as given (plain ASCII).
    void text(std::string_view key, std::string_view value) {
        appendJsonString(member(key), value);
    }
    void integer(std::string_view key, int64_t value) { appendJsonInteger(member(key), value); }
    void value(std::string_view key, const nlohmann::json& value) {
        appendJsonValue(member(key), value);
    }
    // Starts a member whose value the caller appends to the returned string.
    std::string& member(std::string_view key) {
        out += first ? "\"" : ",\"";
        first = false;
        out += key;
        out += "\":";
        return out;
    }
    void close() { out += '}'; }

private:
    std::string& out;
    bool first = true;
};

}  // namespace Corvex::Tracking
