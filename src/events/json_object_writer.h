// One compact JSON object written member by member into a caller's string:
// the event's text and the request body. Members must be added in key order,
// the order the JSON library's dump() lists them in, so that the text is
// byte for byte the dump of the same document.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>

#include "events/json_writer.h"

namespace Corvex::Tracking {

class JsonObjectWriter {
public:
    explicit JsonObjectWriter(std::string& out) : out(out) { out += '{'; }

    // Each throws as appendJsonString does for invalid UTF-8; out keeps what
    // was appended before the fault. Keys are written as given (plain ASCII).
    void text(std::string_view key, std::string_view value) { texts({{key, value}}); }
    // Text members in one step when every value is plain ASCII (one length
    // check for all their pieces), else one by one.
    void texts(std::initializer_list<std::pair<std::string_view, std::string_view>> members) {
        size_t n = 0;
        for (const auto& [key, value] : members) {
            if (!isPlainAscii(value)) {
                for (const auto& [k, v] : members) anyText(k, v);
                return;
            }
            n += 1 + key.size() + 4 + value.size() + 1;  // ,"key":"value"
        }
        if (members.size() == 0) return;
        char* to = appendRoom(out, first ? n - 1 : n);
        for (const auto& [key, value] : members) {
            to = start(to, key);
            *to++ = '"';
            to = put(to, value);
            *to++ = '"';
        }
    }
    void integer(std::string_view key, int64_t value) { appendJsonInteger(member(key), value); }
    void value(std::string_view key, const nlohmann::json& value) {
        appendJsonValue(member(key), value);
    }
    // Starts a member whose value the caller appends to the returned string.
    std::string& member(std::string_view key) {
        open(key, 0);
        return out;
    }
    void close() { out += '}'; }

private:
    // Writes the member's start, `,"key":` (no comma before the first), and
    // makes room for n bytes of its value after it, where the result points.
    char* open(std::string_view key, size_t n) {
        return start(appendRoom(out, (first ? 0 : 1) + key.size() + 3 + n), key);
    }
    char* start(char* to, std::string_view key) {
        if (!first) *to++ = ',';
        first = false;
        *to++ = '"';
        to = put(to, key);
        *to++ = '"';
        *to++ = ':';
        return to;
    }
    void anyText(std::string_view key, std::string_view value) {
        if (isPlainAscii(value)) {
            texts({{key, value}});
        } else {
            appendJsonString(member(key), value);
        }
    }

    std::string& out;
    bool first = true;
};

}  // namespace Corvex::Tracking
