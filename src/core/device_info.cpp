#include "core/device_info.h"

#include <array>
#include <random>
#include <type_traits>

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

    // Writes a new UUID text over `text`.
    void next(std::string& text) {
        std::array<uint32_t, 5> draws{};
        for (auto& draw : draws) draw = engine();
        // 31 free digits take 4 bits each from the first four draws (a 32-bit
        // draw holds eight uniform digits); the variant digit takes 2 bits of
        // the fifth.
        static const char HEX[] = "0123456789abcdef";
        text.assign(36, '-');
        int digit = 0;
        const auto nextDigit = [&]() {
            const uint32_t word = draws[static_cast<size_t>(digit / 8)];
            const uint32_t value = (word >> ((digit % 8) * 4)) & 0xF;
            ++digit;
            return HEX[value];
        };
        for (size_t i = 0; i < 36; ++i) {
            if (i == 8 || i == 13 || i == 18 || i == 23) continue;
            if (i == 14) {
                text[i] = '4';
            } else if (i == 19) {
                text[i] = HEX[8 + (draws[4] & 0x3)];
            } else {
                text[i] = nextDigit();
            }
        }
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
