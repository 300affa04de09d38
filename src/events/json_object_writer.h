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
    void text(std::string_view key, std::string_view value) {
        if (!isPlainAscii(value)) {
            appendJsonString(member(key), value);
            return;
        }
        char* to = open(key, value.size() + 2);
        *to++ = '"';
        *put(to, value) = '"';
    }
    // Text members in one step (one length check for all their pieces) when
    // every value is plain ASCII and the string has the room, as a reused
    // buffer has; else one by one, so that a new buffer grows, and ends up
    // sized, as it does piece by piece.
    void texts(std::initializer_list<std::pair<std::string_view, std::string_view>> members) {
        bool plain = true;
        size_t n = first ? 0 : 1;  // the comma before them
        for (const auto& [key, value] : members) {
            plain = plain && isPlainAscii(value);
            n += 1 + key.size() + 5 + value.size();  // "key":"value" and a comma after
        }
        if (members.size() == 0) return;
        --n;  // no comma after the last
        if (!plain || out.capacity() - out.size() < n) {
            for (const auto& [key, value] : members) text(key, value);
            return;
        }
        char* to = appendRoom(out, n);
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
    std::string& out;
    bool first = true;
};

}  // namespace Corvex::Tracking
