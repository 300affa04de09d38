// The three calls the benchmarks time: a typed event, a purchase with a
// price, and a custom event with a JSON payload, each through the C interface.
#pragma once

#include <cstdint>

#include "corvex/tracking.h"
#include "events/tracking_event.h"

namespace Corvex::Tracking::Bench {

// The queue refuses events once 1000 wait; a round of timed calls stays below
// that, and the queue is emptied between rounds, so that every call is accepted.
constexpr int ROUND_CALLS = 900;

enum class EventKind { LevelStart, Purchase, CustomJson };

// "LevelStart", "Purchase", "CustomJson".
const char* kindLabel(EventKind kind);
// The event name the call gives its event, as the request body carries it.
const char* eventNameOf(EventKind kind);
// One call; n varies the level so that consecutive events differ.
void trackEvent(::TrackingManager* manager, EventKind kind, int32_t n);

// A level-attempt event as the manager makes it, for the baselines' texts.
TrackingEvent levelEvent();

}  // namespace Corvex::Tracking::Bench
