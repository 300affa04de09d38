// The terminal forms of what the collector stored: an aligned table of
// events, one JSON line per event, and the totals.
#pragma once

#include <string>
#include <vector>

#include "collector/event_store.h"
#include "collector/tracking_plan.h"

namespace Corvex::Tracking::Collector {

// Columns #, received (local time), user, session (its first 8 characters),
// event, dup (copies after the first) and value (compact JSON), padded to
// the widest cell; with a header line when withHeader is set.
std::string formatEventTable(const std::vector<StoredEvent>& events, bool withHeader);

// One line of StoredEvent::toJson() per event.
std::string formatEventJsonLines(const std::vector<StoredEvent>& events);

// Events and duplicates per name with their totals, then the requests.
std::string formatStats(const EventStats& stats);

// The end of serve's line for an accepted request: "N new, D duplicates";
// with a plan "N new, M bad, D duplicates", then one indented line per
// reason each new bad event breaks it.
std::string formatAccepted(const RecordResult& result, const ReceivedBatch& batch,
                           const TrackingPlan* plan);

// Text from the network made safe for a terminal cell: control characters
// (C0, DEL and C1) become "?", and a text longer than maxWidth characters is cut to fit with
// "…" at its end.
std::string terminalCell(const std::string& text, size_t maxWidth);

}  // namespace Corvex::Tracking::Collector
