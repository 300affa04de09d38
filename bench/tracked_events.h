// The three calls the benchmarks time: a typed event, a purchase with a
// price, and a custom event with a JSON payload, each through the C interface.
#pragma once

#include <cstdint>

#include "corvex/tracking.h"

namespace Corvex::Tracking::Bench {

enum class EventKind { LevelStart, Purchase, CustomJson };

// "LevelStart", "Purchase", "CustomJson".
const char* kindLabel(EventKind kind);
// The event name the call gives its event, as the request body carries it.
const char* eventNameOf(EventKind kind);
// One call; n varies the level so that consecutive events differ.
void trackEvent(::TrackingManager* manager, EventKind kind, int32_t n);

}  // namespace Corvex::Tracking::Bench
