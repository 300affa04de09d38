#include "delivery/back_off.h"

#include <algorithm>

namespace Corvex::Tracking {

namespace {

// 3^14 is already above MAX_BACK_OFF_MS, so any larger exponent gives the
// maximum for every positive interval. Clamping the exponent to 20 keeps
// 3^20 x INT32_MAX (about 7.5e18) inside a signed 64-bit integer.
constexpr int32_t MAX_EXPONENT = 20;

}  // namespace

int64_t backOffMilliseconds(int32_t exponent, int32_t initialRetryInterval) {
    if (exponent < 0 || initialRetryInterval <= 0) return 0;
    int64_t power = 1;
    for (int32_t k = std::min(exponent, MAX_EXPONENT); k > 0; --k) power *= 3;
    return std::min(power * initialRetryInterval, MAX_BACK_OFF_MS);
}

}  // namespace Corvex::Tracking
