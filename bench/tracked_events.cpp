#include "tracked_events.h"

#include "core/device_info.h"

namespace Corvex::Tracking::Bench {

const char* kindLabel(EventKind kind) {
    switch (kind) {
        case EventKind::LevelStart: return "LevelStart";
        case EventKind::Purchase: return "Purchase";
        case EventKind::CustomJson: return "CustomJson";
    }
    return "";
}

const char* eventNameOf(EventKind kind) {
    switch (kind) {
        case EventKind::LevelStart: return "vxsdk_level_attempt";
        case EventKind::Purchase: return "vxsdk_iap_success_payment";
        case EventKind::CustomJson: return "boss_defeated";
    }
    return "";
}

void trackEvent(::TrackingManager* manager, EventKind kind, int32_t n) {
    switch (kind) {
        case EventKind::LevelStart:
            TrackingManager_TrackLevelStart(manager, n % 100, "forest");
            break;
        case EventKind::Purchase:
            TrackingManager_TrackIAPBuyEnd(manager, "gems_100", 0.99f, 100, "USD", 1);
            break;
        case EventKind::CustomJson:
            TrackingManager_TrackWithJsonValue(manager, "boss_defeated",
                                               "{\"boss\":\"hydra\",\"time\":74}");
            break;
    }
}

TrackingEvent levelEvent() {
    TrackingEvent event;
    event.eId = makeUuid();
    event.eventName = "vxsdk_level_attempt";
    event.id = makeUuid();
    event.timeInMs = 1733670000000;
    event.cfgId = "default";
    event.appVersion = "1.4.0";
    event.setLevelValue(3, "forest");
    return event;
}

}  // namespace Corvex::Tracking::Bench
