#include "events/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "base/utf8.h"

namespace Corvex::Tracking {

using nlohmann::json;

namespace {

template <typename Integer>
void appendNumber(std::string& out, Integer number) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, result.ptr);
}

void appendEscape(std::string& out, unsigned char c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\f': out += "\\f"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    // The other control characters, as \u00XX in lower-case hexadecimal.
    static constexpr char HEX[] = "0123456789abcdef";
    const char escape[] = {'\\', 'u', '0', '0', HEX[c >> 4], HEX[c & 0xF]};
    out.append(escape, sizeof escape);
}

constexpr uint64_t ONES = 0x0101010101010101;
constexpr uint64_t HIGH = 0x8080808080808080;

bool hasZeroByte(uint64_t v) {
    return ((v - ONES) & ~v & HIGH) != 0;
}

// True when a byte of the word is at or above 0x80, below 0x20 (checked once
// all are below 0x80), a quote or a backslash.
bool needsCare(uint64_t word) {
    return (word & HIGH) != 0 || ((word - ONES * 0x20) & ~word & HIGH) != 0 ||
           hasZeroByte(word ^ (ONES * '"')) || hasZeroByte(word ^ (ONES * '\\'));
}

template <typename Word>
uint64_t load(const char* from) {
    Word word = 0;
    std::memcpy(&word, from, sizeof word);
    return word;
}

// The bytes after the last whole word, as one more word without a loop over
// bytes: the text's last eight bytes again (a byte checked twice is still
// plain), or for a shorter text, its bytes gathered and padded with spaces.
uint64_t tailWord(const char* data, size_t n) {
    if (n >= 8) return load<uint64_t>(data + n - 8);
    if (n >= 4) return load<uint32_t>(data) | load<uint32_t>(data + n - 4) << 32;
    const auto byte = [&](size_t i) { return uint64_t{static_cast<unsigned char>(data[i])}; };
    return (ONES * ' ' & ~uint64_t{0xFFFFFF}) | byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
}

}  // namespace

bool isPlainAscii(std::string_view text) {
    const char* data = text.data();
    const size_t n = text.size();
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        if (needsCare(load<uint64_t>(data + i))) return false;
    }
    return i == n || !needsCare(tailWord(data, n));
}

void appendJsonString(std::string& out, std::string_view text) {
    if (isPlainAscii(text)) {
        char* to = appendRoom(out, text.size() + 2);
        *to++ = '"';
        *put(to, text) = '"';
        return;
    }
    if (!isValidUtf8(text)) {
        // The library itself reports the fault, with its exact message.
        out += json(std::string(text)).dump();
        return;
    }
    out += '"';
    size_t plainFrom = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + plainFrom, i - plainFrom);
        appendEscape(out, c);
        plainFrom = i + 1;
    }
    out.append(text.data() + plainFrom, text.size() - plainFrom);
    out += '"';
}

void appendJsonInteger(std::string& out, int64_t number) {
    appendNumber(out, number);
}

void appendJsonValue(std::string& out, const json& value) {
    switch (value.type()) {
        case json::value_t::null: out += "null"; return;
        case json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; return;
        case json::value_t::number_integer: appendNumber(out, value.get<int64_t>()); return;
        case json::value_t::number_unsigned: appendNumber(out, value.get<uint64_t>()); return;
        case json::value_t::number_float: {
            const double number = value.get<double>();
            if (!std::isfinite(number)) {
                out += "null";
                return;
            }
            // The library's own shortest round-trip form, ".0" for integers.
            char digits[64];
            out.append(digits, nlohmann::detail::to_chars(digits, digits + sizeof digits, number));
            return;
        }
        case json::value_t::string:
            appendJsonString(out, value.get_ref<const json::string_t&>());
            return;
        case json::value_t::array: {
            out += '[';
            bool first = true;
            for (const json& element : value.get_ref<const json::array_t&>()) {
                if (!first) out += ',';
                first = false;
                appendJsonValue(out, element);
            }
            out += ']';
            return;
        }
        case json::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.get_ref<const json::object_t&>()) {
                if (!first) out += ',';
                first = false;
                appendJsonString(out, key);
                out += ':';
                appendJsonValue(out, member);
            }
            out += '}';
            return;
        }
        case json::value_t::binary:
        case json::value_t::discarded:
            // Never made by this library; the library's own text stays exact.
            out += value.dump();
            return;
    }
}

}  // namespace Corvex::Tracking
