// The library from C++ through corvex/tracking.hpp: a manager that owns its
// handle, the settings as a plain value, texts in and out as standard strings.
//
//   corvex-example [proxy-url ca-file]
#include <corvex/tracking.hpp>

#include <chrono>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
    corvex::Settings settings;
    settings.appVersion = "2.3.0";
    settings.sendDelay = 200;
    corvex::TrackingManager tracker("example-app", "example-secret", settings);
    if (!tracker) return 1;
    if (argc >= 3) {
        tracker.setSendProxy(argv[1]);
        tracker.setSendCertificateAuthority(argv[2]);
    }

    tracker.start();
    tracker.trackLevelStart(1, "tutorial");
    tracker.trackLevelEnd(1, "tutorial", true);
    tracker.trackAdImpression("level_end", corvex::AdPlacementType::Interstitial);
    tracker.trackIapBuyEnd("starter_pack", 4.99f, 1, "USD", true);
    tracker.trackWithJsonValue("settings_changed", R"({"music":false,"difficulty":"hard"})");

    std::cout << "Corvex Tracking " << corvex::TrackingManager::version() << ", user "
              << tracker.userId() << "\n";

    // Give delivery a moment; the destructor stops the manager, and what was
    // not sent stays saved for the next run.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return 0;
}
