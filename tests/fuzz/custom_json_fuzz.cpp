// Arbitrary bytes as the JSON text of a custom event: the export queues an
// event without failing, and its payload is the value the text denotes (the
// text repaired to UTF-8 first) or null, serialised as sound JSON.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "api/manager_handle.h"
#include "base/utf8.h"
#include "corvex/tracking.h"
#include "events/tracking_event.h"
#include "queue/queue_manager.h"

using Corvex::Tracking::managerOf;
using Corvex::Tracking::repairUtf8;
using Corvex::Tracking::TrackingEvent;
using nlohmann::json;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// One manager for the whole run: memory only, and nothing is ever sent.
TrackingManager* manager() {
    static TrackingManager* const instance = [] {
        InitializationData* config = InitializationData_Create();
        InitializationData_SetEnableSave(config, 0);
        InitializationData_SetCustomConfigId(config, 1);
        TrackingManager* made = TrackingManager_Create("fuzz", "fuzz", config);
        InitializationData_Destroy(config);
        return made;
    }();
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TrackingManager_TrackWithJsonValue(manager(), "fuzz", text.c_str());
    auto& queue = managerOf(manager())->queue();
    check(queue.pendingCount() == 1);
    queue.retireOldest(queue.pendingCount());

    // The same payload, made directly, checked against the library's parser.
    const std::string repaired = repairUtf8(text.c_str());
    TrackingEvent event;
    event.setValueFromJsonText(repaired);
    const json expected = json::parse(repaired, nullptr, false);
    if (repaired.empty() || expected.is_discarded()) {
        check(event.value.is_null());
    } else {
        check(event.value == expected);
    }
    const json written = json::parse(event.toJsonText(), nullptr, false);
    check(!written.is_discarded() && written["value"] == event.value);
    return 0;
}
