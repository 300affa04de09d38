#include "events/event_catalogue.h"

namespace Corvex::Tracking::Catalogue {

const char* adPlacementTypeName(int32_t placementType) {
    switch (placementType) {
        case 0: return "banner";
        case 1: return "interstitial";
        case 2: return "rewarded_video";
        default: return "";
    }
}

const char* adPlacementName(int32_t placementType, int32_t placement) {
    if (placement == AUTOMATIC_PLACEMENT) placement = placementType == 0 ? 0 : 4;
    switch (placement) {
        case 0: return "bottom";
        case 1: return "top";
        case 2: return "left";
        case 3: return "right";
        case 4: return "fullscreen";
        default: return "";
    }
}

const char* storeTypeName(int32_t storeType) {
    switch (storeType) {
        case 0: return "app_store";
        case 1: return "google_play";
        case 2: return "amazon_store";
        case 3: return "microsoft_store";
        default: return "other";
    }
}

const char* trackingStatusName(int32_t status) {
    switch (status) {
        case 1: return "restricted";
        case 2: return "denied";
        case 3: return "authorized";
        default: return "not_determined";
    }
}

}  // namespace Corvex::Tracking::Catalogue
