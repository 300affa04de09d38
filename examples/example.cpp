// The library from C++: the same C functions, with the handle and the returned
// texts owned by smart pointers.
//
//   corvex-example [proxy-url ca-file]
#include <corvex/tracking.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace {

struct ManagerDeleter {
    void operator()(TrackingManager* manager) const { TrackingManager_Destroy(manager); }
};
struct TextDeleter {
    void operator()(char* text) const { std::free(text); }
};
using Manager = std::unique_ptr<TrackingManager, ManagerDeleter>;
using Text = std::unique_ptr<char, TextDeleter>;

}  // namespace

int main(int argc, char** argv) {
    InitializationData* config = InitializationData_Create();
    InitializationData_SetAppVersion(config, "2.3.0");
    InitializationData_SetSendDelay(config, 200);
    Manager tracker(TrackingManager_Create("example-app", "example-secret", config));
    InitializationData_Destroy(config);
    if (!tracker) return 1;
    if (argc >= 3) {
        TrackingManager_SetSendProxy(tracker.get(), argv[1]);
        TrackingManager_SetSendCertificateAuthority(tracker.get(), argv[2]);
    }

    TrackingManager_Start(tracker.get());
    TrackingManager_TrackLevelStart(tracker.get(), 1, "tutorial");
    TrackingManager_TrackLevelEnd(tracker.get(), 1, "tutorial", 1);
    TrackingManager_TrackIAPBuyEnd(tracker.get(), "starter_pack", 4.99f, 1, "USD", 1);
    TrackingManager_TrackWithJsonValue(tracker.get(), "settings_changed",
                                       R"({"music":false,"difficulty":"hard"})");

    Text userId(TrackingManager_GetUserId(tracker.get()));
    Text version(TrackingManager_GetVersion());
    std::cout << "Corvex Tracking " << version.get() << ", user " << userId.get() << "\n";

    // Stopping keeps what was not sent for the next run; give delivery a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    TrackingManager_Stop(tracker.get());
    return 0;
}
