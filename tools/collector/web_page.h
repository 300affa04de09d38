// The collector's web page: the events as they arrive, newest first, with a
// filter box and the JSON of an event on click. It reads /api/events.
#pragma once

#include <string>

namespace Corvex::Tracking::Collector {

// The whole page, one HTML document with its script and style.
const std::string& webPage();

}  // namespace Corvex::Tracking::Collector
