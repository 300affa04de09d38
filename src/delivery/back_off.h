// The sender's wait before a retry.
#pragma once

#include <cstdint>

namespace Corvex::Tracking {

// The longest wait between two attempts. A larger product of the settings is
// cut to it, so that extreme settings cannot stall a worker for days.
constexpr int64_t MAX_BACK_OFF_MS = int64_t{60} * 60 * 1000;

// trunc(3^exponent) x initialRetryInterval milliseconds, limited to
// 0 .. MAX_BACK_OFF_MS. A negative exponent gives 0 (3^k below 1 truncates to
// 0), and so does a negative or zero interval.
int64_t backOffMilliseconds(int32_t exponent, int32_t initialRetryInterval);

}  // namespace Corvex::Tracking
