// Corvex Tracking for C++ hosts, header only: an owner of the tracking manager
// handle and a plain settings value, over the C functions of corvex/tracking.h
// (link the same library; nothing else is needed).
//
//   corvex::Settings settings;
//   settings.savePath = gameDataFolder + "/tracking";
//   settings.appVersion = "1.4.0";
//   corvex::TrackingManager tracker("app-key", "app-secret", settings);
//   tracker.start();
//   tracker.trackLevelStart(3, "forest");
//   tracker.trackAdImpression("main_banner", corvex::AdPlacementType::Banner);
//   std::string userId = tracker.userId();
//
// Conventions of every method here:
// - Texts are taken as std::string_view and passed on as NUL-terminated
//   copies, so a text ends at its first NUL. The library treats them as UTF-8
//   and repairs what is not (paths and the two credentials are kept as given).
// - Returned texts are std::string. The library's copy is released with the
//   free() of the C runtime the library uses: on Windows that of ucrtbase.dll,
//   looked up once at run time, since a host built with /MT or against
//   msvcrt.dll has another free().
// - Nothing throws and nothing reports an error. A manager that owns no handle
//   (default constructed, moved from, or one the library could not create)
//   does nothing, and its userId() is "". The copies of the texts are
//   std::string: when one cannot be allocated, a build with exceptions gets
//   std::bad_alloc from the method that made it and a build without them ends
//   the program, as the standard library does.
// - Threads: any method may be called from any thread, also at the same time
//   as others on the same manager. Destruction and moves (construction or
//   assignment) must not overlap another call on the managers involved, and
//   destruction and move assignment are the last call on the handle they
//   release.
// - Ownership: a TrackingManager owns its handle (move-only; destruction stops
//   and destroys it). Settings is a plain value, read only by the constructor.
// - Waits: no method waits for the tracking service, except stop(), the
//   destructor and move assignment for an HTTP attempt already on the wire.
//   What each one may wait for is said beside it; the rest wait for short
//   locks only.
#ifndef CORVEX_TRACKING_HPP
#define CORVEX_TRACKING_HPP

#include <corvex/tracking.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#if defined(_WIN32)
// The handle type of <windows.h> (STRICT, its default), declared here so that
// the prototypes below are those of <windows.h>, whichever comes first.
struct HINSTANCE__;
#endif

namespace corvex {

enum class AdPlacementType : int32_t { Banner = 0, Interstitial = 1, RewardedVideo = 2 };
enum class AdPlacement : int32_t {
    Automatic = -1,
    Bottom = 0,
    Top = 1,
    Left = 2,
    Right = 3,
    Fullscreen = 4
};
enum class StoreType : int32_t {
    Other = -1,
    AppStore = 0,
    GooglePlay = 1,
    AmazonStore = 2,
    MicrosoftStore = 3
};
enum class TrackingAuthorizationStatus : int32_t {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    Authorized = 3
};
// A value outside an enumeration (a cast number) is passed on as its number.

// The configuration of a manager, with the library's defaults.
struct Settings {
    // The folder of the library's files; empty: the per-user default folder,
    // which every program of the user that uses the library shares.
    std::string savePath;
    // Empty: the stored user id, else a new one (none with customUserId).
    std::string userId;
    // Empty: "default" (stays empty with customConfigId).
    std::string configId;
    std::string appVersion = "0.0.1";
    std::string appBuildNumber = "1";
    std::string bundleId;
    std::string country;
    std::string deviceModel;
    StoreType storeType = StoreType::Other;
    int32_t maxRetries = 3;
    int32_t initialRetryInterval = 500;  // milliseconds, the base of the back-off
    int32_t flushQueueSize = 3;          // queued events that are sent at once
    int32_t flushSendSize = 50;          // most events in one request
    int32_t queueCheckInterval = 100;    // milliseconds between the worker's passes
    int32_t sendDelay = 1000;            // milliseconds after which a shorter queue is sent
    // Keeps the user id and the waiting events in savePath; false: memory only.
    bool enableSave = true;
    // The host gives the id itself: an empty user id stays empty (config id:
    // does not become "default"), and nothing is sent until setUserId
    // (setConfigId) gives one.
    bool customUserId = false;
    bool customConfigId = false;
};

namespace detail {

#if defined(_WIN32)
// Declared rather than taken from <windows.h>, whose macros (min, max and
// many more) would reach every host; the types are exactly those it declares.
#if defined(NO_STRICT)
using Module = void*;
#else
using Module = ::HINSTANCE__*;
#endif
using Procedure = std::intptr_t(__stdcall*)();
extern "C" __declspec(dllimport) Module __stdcall GetModuleHandleW(const wchar_t* name);
extern "C" __declspec(dllimport) Procedure
    __stdcall GetProcAddress(Module module, const char* name);
#endif

// Releases a text the library returned, with the library's own free().
inline void releaseText(char* text) noexcept {
#if defined(_WIN32)
    // The library imports the UCRT, so ucrtbase.dll is loaded while it is.
    // Should it not be found, the text is kept rather than given to a heap
    // that did not make it.
    using Free = void (*)(void*);
    static const Free ucrtFree = [] {
        const Module ucrt = GetModuleHandleW(L"ucrtbase.dll");
        const Procedure found = ucrt != nullptr ? GetProcAddress(ucrt, "free") : nullptr;
        // Through void (*)(), the type that converts to any function pointer.
        return reinterpret_cast<Free>(reinterpret_cast<void (*)()>(found));
    }();
    if (ucrtFree != nullptr) ucrtFree(text);
#else
    std::free(text);
#endif
}

// A copy of a text the library returned, which is released.
inline std::string takeText(char* text) {
    struct Owner {
        char* text;
        ~Owner() { releaseText(text); }
    } owner{text};
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace detail

// The tracking manager: sends the events of one application with its
// credentials, from a queue kept in the save folder.
class TrackingManager {
public:
    // Owns no handle: every method does nothing.
    TrackingManager() noexcept = default;
    // key and secret are the application's HTTP Basic credentials at the
    // tracking service; the key also names the queue file, so that a queue
    // goes out only under the key that accepted it. Waits for the disk:
    // loading the saved queue, one sync of the queue file (more when a crash
    // left it to be written anew) and writing the properties file, up to about
    // 100 ms more while another application claims the folder's queue. Owns
    // no handle if the library could not make one.
    TrackingManager(std::string_view key, std::string_view secret,
                    const Settings& settings = Settings()) {
        const std::string user(key);
        const std::string password(secret);
        InitializationData* data = InitializationData_Create();
        if (data == nullptr) return;  // rather than a manager with other settings
        InitializationData_SetSavePath(data, settings.savePath.c_str());
        InitializationData_SetUserId(data, settings.userId.c_str());
        InitializationData_SetConfigId(data, settings.configId.c_str());
        InitializationData_SetAppVersion(data, settings.appVersion.c_str());
        InitializationData_SetAppBuildNumber(data, settings.appBuildNumber.c_str());
        InitializationData_SetBundleId(data, settings.bundleId.c_str());
        InitializationData_SetCountry(data, settings.country.c_str());
        InitializationData_SetDeviceModel(data, settings.deviceModel.c_str());
        InitializationData_SetStoreType(data, static_cast<int32_t>(settings.storeType));
        InitializationData_SetMaxRetries(data, settings.maxRetries);
        InitializationData_SetInitialRetryInterval(data, settings.initialRetryInterval);
        InitializationData_SetFlushQueueSize(data, settings.flushQueueSize);
        InitializationData_SetFlushSendSize(data, settings.flushSendSize);
        InitializationData_SetQueueCheckInterval(data, settings.queueCheckInterval);
        InitializationData_SetSendDelay(data, settings.sendDelay);
        InitializationData_SetEnableSave(data, settings.enableSave);
        InitializationData_SetCustomUserId(data, settings.customUserId);
        InitializationData_SetCustomConfigId(data, settings.customConfigId);
        handle = TrackingManager_Create(user.c_str(), password.c_str(), data);
        InitializationData_Destroy(data);
    }
    // Stops the worker and syncs the queue file (waiting as stop() does),
    // then releases the handle.
    ~TrackingManager() { TrackingManager_Destroy(handle); }

    TrackingManager(const TrackingManager&) = delete;
    TrackingManager& operator=(const TrackingManager&) = delete;
    // The handle moves; the other manager is left owning none.
    TrackingManager(TrackingManager&& other) noexcept
        : handle(std::exchange(other.handle, nullptr)) {}
    // Releases this manager's handle as the destructor does, then takes the other's.
    TrackingManager& operator=(TrackingManager&& other) noexcept {
        if (this != &other) {
            TrackingManager_Destroy(handle);
            handle = std::exchange(other.handle, nullptr);
        }
        return *this;
    }

    // Whether this manager owns a handle.
    explicit operator bool() const noexcept { return handle != nullptr; }

    // The library's version, "0.0.1-cpp".
    static std::string version() { return detail::takeText(TrackingManager_GetVersion()); }

    // ---- Lifecycle and identity
    // Starts the worker and opens a session. Waits for reading the network
    // adapters (the open event's local address) and for the open event's append.
    void start() noexcept { TrackingManager_Start(handle); }
    // Stops the worker. Waits for an HTTP attempt already on the wire, up to
    // about 5 s, then for one sync of the queue file. Queued events are kept
    // (and saved on stable storage) for a later start or the next run.
    void stop() noexcept { TrackingManager_Stop(handle); }
    // The game lost focus.
    void onPause() noexcept { TrackingManager_OnPause(handle); }
    // The game is back: a new session after more than 30 s away, waiting as
    // start() does.
    void onResume() noexcept { TrackingManager_OnResume(handle); }
    std::string userId() const { return detail::takeText(TrackingManager_GetUserId(handle)); }
    // Waits for writing the properties file (other calls go on meanwhile).
    void setUserId(std::string_view userId) {
        TrackingManager_SetUserId(handle, std::string(userId).c_str());
    }
    void setConfigId(std::string_view configId) {
        TrackingManager_SetConfigId(handle, std::string(configId).c_str());
    }

    // ---- Transport options, from the next request on
    void setSendVerbose(bool verbose) noexcept { TrackingManager_SetSendVerbose(handle, verbose); }
    void setSendProxy(std::string_view proxy) {
        TrackingManager_SetSendProxy(handle, std::string(proxy).c_str());
    }
    void setSendProxyCertificateAuthority(std::string_view caFilePath) {
        TrackingManager_SetSendProxyCertificateAuthority(handle, std::string(caFilePath).c_str());
    }
    void setSendCertificateAuthority(std::string_view caFilePath) {
        TrackingManager_SetSendCertificateAuthority(handle, std::string(caFilePath).c_str());
    }

    // ---- Events
    // Every tracking method waits for its own append to the queue file and for
    // the queue's lock; never for the service, and never for a sync but when
    // its append must grow a ring whose entries run round its end (one sync,
    // a few times at most as a queue grows towards 1000 events). A full queue
    // (1000 events) refuses the event.
    void trackBootStart() noexcept { TrackingManager_TrackBootStart(handle); }
    void trackBootEnd() noexcept { TrackingManager_TrackBootEnd(handle); }
    void trackLevelStart(int32_t level, std::string_view label) {
        TrackingManager_TrackLevelStart(handle, level, std::string(label).c_str());
    }
    void trackLevelEnd(int32_t level, std::string_view label, bool completed) {
        TrackingManager_TrackLevelEnd(handle, level, std::string(label).c_str(), completed);
    }
    // Automatic leaves the placement out of the event.
    void trackAdLoad(std::string_view adUnit, AdPlacementType type,
                     AdPlacement placement = AdPlacement::Automatic) {
        trackAd(TrackingManager_TrackAdLoad, TrackingManager_TrackAdLoad2, adUnit, type, placement);
    }
    void trackAdClose(std::string_view adUnit, AdPlacementType type,
                      AdPlacement placement = AdPlacement::Automatic) {
        trackAd(TrackingManager_TrackAdClose, TrackingManager_TrackAdClose2, adUnit, type,
                placement);
    }
    void trackAdClick(std::string_view adUnit, AdPlacementType type,
                      AdPlacement placement = AdPlacement::Automatic) {
        trackAd(TrackingManager_TrackAdClick, TrackingManager_TrackAdClick2, adUnit, type,
                placement);
    }
    void trackAdImpression(std::string_view adUnit, AdPlacementType type,
                           AdPlacement placement = AdPlacement::Automatic) {
        trackAd(TrackingManager_TrackAdImpression, TrackingManager_TrackAdImpression2, adUnit, type,
                placement);
    }
    void trackIapInitialization(bool success) noexcept {
        TrackingManager_TrackIAPInitialization(handle, success);
    }
    void trackIapRestorePurchase() noexcept { TrackingManager_TrackIAPRestorePurchase(handle); }
    void trackIapBuyStart(std::string_view pack, float price, int32_t amount,
                          std::string_view currency) {
        TrackingManager_TrackIAPBuyStart(handle, std::string(pack).c_str(), price, amount,
                                         std::string(currency).c_str());
    }
    void trackIapBuyEnd(std::string_view pack, float price, int32_t amount,
                        std::string_view currency, bool success) {
        TrackingManager_TrackIAPBuyEnd(handle, std::string(pack).c_str(), price, amount,
                                       std::string(currency).c_str(), success);
    }
    void trackFacebookLogin(std::string_view facebookId) {
        TrackingManager_TrackFacebookLogin(handle, std::string(facebookId).c_str());
    }
    void trackFacebookLogout(std::string_view facebookId) {
        TrackingManager_TrackFacebookLogout(handle, std::string(facebookId).c_str());
    }
    void trackUpdateGame(std::string_view newVersion) {
        TrackingManager_TrackUpdateGame(handle, std::string(newVersion).c_str());
    }
    void trackRateGame() noexcept { TrackingManager_TrackRateGame(handle); }
    void trackSoundMode(std::string_view soundMode) {
        TrackingManager_TrackSoundMode(handle, std::string(soundMode).c_str());
    }
    void trackAuthorizationTrackingStatus(TrackingAuthorizationStatus status) noexcept {
        TrackingManager_TrackAuthorizationTrackingStatus(handle, static_cast<int32_t>(status));
    }
    void trackAccountLogin(std::string_view id, std::string_view type) {
        TrackingManager_TrackAccountLogin(handle, std::string(id).c_str(),
                                          std::string(type).c_str());
    }
    void trackAccountLogout(std::string_view id, std::string_view type) {
        TrackingManager_TrackAccountLogout(handle, std::string(id).c_str(),
                                           std::string(type).c_str());
    }
    void trackAccountLink(std::string_view id, std::string_view type) {
        TrackingManager_TrackAccountLink(handle, std::string(id).c_str(),
                                         std::string(type).c_str());
    }
    void trackAccountUnlink(std::string_view id, std::string_view type) {
        TrackingManager_TrackAccountUnlink(handle, std::string(id).c_str(),
                                           std::string(type).c_str());
    }
    // Without a chain, the event has none.
    void trackWalletLink(std::string_view wallet) {
        TrackingManager_TrackWalletLink(handle, std::string(wallet).c_str());
    }
    void trackWalletLink(std::string_view wallet, std::string_view chain) {
        TrackingManager_TrackWalletLink2(handle, std::string(wallet).c_str(),
                                         std::string(chain).c_str());
    }
    void trackWalletUnlink(std::string_view wallet) {
        TrackingManager_TrackWalletUnlink(handle, std::string(wallet).c_str());
    }
    void trackWalletUnlink(std::string_view wallet, std::string_view chain) {
        TrackingManager_TrackWalletUnlink2(handle, std::string(wallet).c_str(),
                                           std::string(chain).c_str());
    }
    // Without a currency or a chain, the event has none.
    void trackCryptoPayment(std::string_view pack, float price, int32_t amount) {
        TrackingManager_TrackCryptoPayment(handle, std::string(pack).c_str(), price, amount);
    }
    void trackCryptoPayment(std::string_view pack, float price, int32_t amount,
                            std::string_view currency) {
        TrackingManager_TrackCryptoPayment2(handle, std::string(pack).c_str(), price, amount,
                                            std::string(currency).c_str());
    }
    void trackCryptoPayment(std::string_view pack, float price, int32_t amount,
                            std::string_view currency, std::string_view chain) {
        TrackingManager_TrackCryptoPayment3(handle, std::string(pack).c_str(), price, amount,
                                            std::string(currency).c_str(),
                                            std::string(chain).c_str());
    }

    // ---- Events of the host's own
    void track(std::string_view name) { TrackingManager_Track(handle, std::string(name).c_str()); }
    void trackWithIntValue(std::string_view name, int32_t value) {
        TrackingManager_TrackWithIntValue(handle, std::string(name).c_str(), value);
    }
    void trackWithStringValue(std::string_view name, std::string_view value) {
        TrackingManager_TrackWithStringValue(handle, std::string(name).c_str(),
                                             std::string(value).c_str());
    }
    // json is parsed as one JSON value; text that does not parse gives a null value.
    void trackWithJsonValue(std::string_view name, std::string_view json) {
        TrackingManager_TrackWithJsonValue(handle, std::string(name).c_str(),
                                           std::string(json).c_str());
    }

private:
    using AdCall = void (*)(::TrackingManager*, const char*, int32_t);
    using PlacedAdCall = void (*)(::TrackingManager*, const char*, int32_t, int32_t);

    void trackAd(AdCall withoutPlacement, PlacedAdCall withPlacement, std::string_view adUnit,
                 AdPlacementType type, AdPlacement placement) {
        const std::string unit(adUnit);
        if (placement == AdPlacement::Automatic) {
            withoutPlacement(handle, unit.c_str(), static_cast<int32_t>(type));
        } else {
            withPlacement(handle, unit.c_str(), static_cast<int32_t>(type),
                          static_cast<int32_t>(placement));
        }
    }

    ::TrackingManager* handle = nullptr;
};

}  // namespace corvex

#endif  // CORVEX_TRACKING_HPP
