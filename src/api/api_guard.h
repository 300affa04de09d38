// Keeps every exception on the library's side of the C boundary.
#pragma once

#include <utility>

namespace Corvex::Tracking {

template <typename Function>
void guarded(Function&& function) noexcept {
    try {
        std::forward<Function>(function)();
    } catch (...) {
        // Nothing is reported to the host; the call simply has no effect.
    }
}

}  // namespace Corvex::Tracking
