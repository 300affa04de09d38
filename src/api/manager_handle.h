// Turns a host handle into the manager behind it, keeping null handles and
// exceptions on this side of the C boundary.
#pragma once

#include "api/api_guard.h"
#include "core/tracking_manager.h"
#include "corvex/tracking.h"

namespace Corvex::Tracking {

inline TrackingManager* managerOf(::TrackingManager* handle) {
    return reinterpret_cast<TrackingManager*>(handle);
}

// Runs action with the manager; a null handle does nothing.
template <typename Action>
void withManager(::TrackingManager* handle, Action&& action) noexcept {
    if (handle == nullptr) return;
    guarded([&] { action(*managerOf(handle)); });
}

}  // namespace Corvex::Tracking
