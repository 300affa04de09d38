#include "core/device_info.h"

#include <array>
#include <random>
#include <type_traits>

#include "base/text_copy.h"
#include "platform/platform.h"

namespace Corvex::Tracking {

std::string describePlatform() {
    return Platform::osProductName();
}

std::string describeOsVersion() {
    return Platform::osVersionText();
}

std::string localIpAddress() {
    return Platform::localIpv4Address();
}

namespace {

// One generator per thread, so that Track calls on several threads never
// wait for each other here; each is seeded once from several words of the
// random device, so that neither threads nor installations share sequences.
// Trivially destructible, so a thread that ends after the library is
// unloaded runs none of its code.
class UuidGenerator {
public:
    UuidGenerator() {
        std::random_device device;
        std::array<uint32_t, 8> words{};
        for (auto& word : words) word = device();
        std::seed_seq seed(words.begin(), words.end());
        engine.seed(seed);
    }

    // Writes a new UUID text over `text`: version 4, variant 10xx, the other
    // 122 bits from four draws.
    void next(std::string& text) {
        std::array<uint8_t, 32> nibbles{};
        for (size_t w = 0; w < 4; ++w) {
            uint32_t draw = engine();
            for (size_t d = 0; d < 8; ++d, draw >>= 4)
                nibbles[w * 8 + d] = static_cast<uint8_t>(draw & 0xF);
        }
        nibbles[12] = 4;
        nibbles[16] = static_cast<uint8_t>(8 | (nibbles[16] & 0x3));
        static const char HEX[] = "0123456789abcdef";
        char uuid[36];
        size_t at = 0;
        for (size_t i = 0; i < nibbles.size(); ++i) {
            if (i == 8 || i == 12 || i == 16 || i == 20) uuid[at++] = '-';
            uuid[at++] = HEX[nibbles[i]];
        }
        copyText(text, std::string_view(uuid, sizeof uuid));
    }

private:
    std::mt19937 engine;
};

static_assert(std::is_trivially_destructible_v<UuidGenerator>);

UuidGenerator& generator() {
    thread_local UuidGenerator instance;
    return instance;
}

}  // namespace

std::string makeUuid() {
    std::string text;
    generator().next(text);
    return text;
}

void makeUuid(std::string& out) {
    generator().next(out);
}

}  // namespace Corvex::Tracking
