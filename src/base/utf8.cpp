#include "base/utf8.h"

#include <cstdint>
#include <cstring>

namespace Corvex::Tracking {

namespace {

// Length of the valid sequence starting at i, or 0 with `bad` set to how many
// bytes form the maximal invalid subpart that one U+FFFD replaces.
size_t validSequence(std::string_view s, size_t i, size_t& bad) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b0 = byte(i);
    bad = 1;
    if (b0 < 0x80) return 1;
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if (i + k >= s.size()) {
            bad = k;
            return 0;
        }
        const uint8_t b = byte(i + k);
        const bool ok = (k == 1) ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
        if (!ok) {
            bad = k;
            return 0;
        }
    }
    return length;
}

// True when none of the eight bytes at p has its high bit set.
bool isAsciiWord(const char* p) {
    uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080ULL) == 0;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        if (i + 8 <= text.size() && isAsciiWord(text.data() + i)) {
            i += 8;
            continue;
        }
        size_t bad = 0;
        const size_t n = validSequence(text, i, bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string repairUtf8(std::string_view text) {
    // Host texts are nearly always valid: copied at once.
    if (isValidUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t bad = 0;
        const size_t n = validSequence(text, i, bad);
        if (n > 0) {
            out.append(text.data() + i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            i += bad;
        }
    }
    return out;
}

std::string textFromHost(const char* text) {
    return text ? repairUtf8(text) : std::string();
}

}  // namespace Corvex::Tracking
