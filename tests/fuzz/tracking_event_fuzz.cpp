// Arbitrary bytes as the text of a saved event: fromJsonText either fails
// with the JSON library's error (which the queue loader catches) or fills a
// record that serialises, reads back to the same fields and serialises to
// the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "events/tracking_event.h"

using Corvex::Tracking::TrackingEvent;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader hands the parser a NUL-terminated copy of the entry.
    const std::string text(reinterpret_cast<const char*>(data), size);
    TrackingEvent event;
    try {
        event.fromJsonText(text.c_str());
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    // Parsed strings are valid UTF-8, so the record always serialises.
    const std::string written = event.toJsonText();
    check(written == event.toJson().dump());
    TrackingEvent again;
    again.fromJsonText(written.c_str());
    check(again.eId == event.eId && again.eventName == event.eventName && again.id == event.id &&
          again.timeInMs == event.timeInMs && again.cfgId == event.cfgId &&
          again.appVersion == event.appVersion && again.value == event.value);
    check(again.toJsonText() == written);
    return 0;
}
