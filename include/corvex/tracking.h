/*
 * Corvex Tracking: attribution and analytics events for games and applications.
 *
 * A host fills an InitializationData record, creates a TrackingManager handle
 * with its two service credentials, starts it, and reports what happens in the
 * game. Events are queued in memory, saved in the save folder and delivered in
 * batches by one worker thread per handle.
 *
 * Conventions of every function here:
 * - Texts are NUL-terminated UTF-8 and are copied before the call returns.
 *   Text that is not valid UTF-8 is repaired (each invalid sequence becomes
 *   U+FFFD), except paths and the two credentials, which are kept as given.
 * - A null handle or record makes a call do nothing. A null text counts as an
 *   empty text in a tracking call and is ignored by a setter.
 * - Flags and enumerations are 32-bit integers (any non-zero value is true).
 * - Texts returned to the host (TrackingManager_GetUserId,
 *   TrackingManager_GetVersion) are fresh heap copies that the host releases
 *   with the C runtime's free(). On Windows, corvex_tracking.dll takes its C
 *   runtime from the Universal C Runtime (the api-ms-win-crt-* DLLs of the
 *   system), as programs built with Visual Studio 2015 or later do, so such a
 *   host's free() is the right one. A host tied to another C runtime
 *   (msvcrt.dll, a statically linked one) must release the texts with the
 *   UCRT's free(), found in ucrtbase.dll.
 * - No function reports an error or throws.
 * - Threads: any function may be called from any thread, also at the same time
 *   as others on the same handle, except TrackingManager_Destroy, which must be
 *   the last call on a handle and must not overlap another call on it.
 * - Waits: no function waits for the tracking service, except Stop and Destroy
 *   for an attempt already on the wire. What each call may wait for is said
 *   beside it; the record's setters, OnPause, GetUserId, SetConfigId,
 *   GetVersion and the transport options wait for nothing but short locks.
 */
#ifndef CORVEX_TRACKING_H
#define CORVEX_TRACKING_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(CORVEX_TRACKING_BUILD)
#define CORVEX_API __declspec(dllexport)
#elif defined(CORVEX_TRACKING_STATIC)
#define CORVEX_API
#else
#define CORVEX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && defined(CORVEX_TRACKING_BUILD)
#define CORVEX_API __attribute__((visibility("default")))
#else
#define CORVEX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The configuration record. Opaque to the host. */
typedef struct InitializationData InitializationData;
/* The tracking manager handle. Opaque to the host. */
typedef struct TrackingManager TrackingManager;

/* ---- Configuration record ------------------------------------------------
 * Defaults: empty save path (the per-user default folder), empty user and
 * config ids, app version "0.0.1", build number "1", empty bundle id, country
 * and device model, store type -1, 3 retries, 500 ms initial retry interval,
 * flush at 3 queued events, at most 50 events per request, a queue check every
 * 100 ms, a short queue sent after 1000 ms, saving on, both custom flags off. */
CORVEX_API InitializationData* InitializationData_Create(void);
CORVEX_API void InitializationData_Destroy(InitializationData* data);
CORVEX_API void InitializationData_SetSavePath(InitializationData* data, const char* path);
CORVEX_API void InitializationData_SetUserId(InitializationData* data, const char* userId);
CORVEX_API void InitializationData_SetConfigId(InitializationData* data, const char* configId);
CORVEX_API void InitializationData_SetAppVersion(InitializationData* data, const char* appVersion);
CORVEX_API void InitializationData_SetAppBuildNumber(InitializationData* data,
                                                     const char* appBuildNumber);
CORVEX_API void InitializationData_SetBundleId(InitializationData* data, const char* bundleId);
CORVEX_API void InitializationData_SetCountry(InitializationData* data, const char* country);
CORVEX_API void InitializationData_SetDeviceModel(InitializationData* data,
                                                  const char* deviceModel);
/* 0 app store, 1 google play, 2 amazon store, 3 microsoft store, other: "other". */
CORVEX_API void InitializationData_SetStoreType(InitializationData* data, int32_t storeType);
CORVEX_API void InitializationData_SetMaxRetries(InitializationData* data, int32_t maxRetries);
CORVEX_API void InitializationData_SetInitialRetryInterval(InitializationData* data,
                                                           int32_t milliseconds);
CORVEX_API void InitializationData_SetFlushQueueSize(InitializationData* data, int32_t events);
CORVEX_API void InitializationData_SetFlushSendSize(InitializationData* data, int32_t events);
CORVEX_API void InitializationData_SetQueueCheckInterval(InitializationData* data,
                                                         int32_t milliseconds);
CORVEX_API void InitializationData_SetSendDelay(InitializationData* data, int32_t milliseconds);
CORVEX_API void InitializationData_SetEnableSave(InitializationData* data, int32_t enable);
CORVEX_API void InitializationData_SetCustomUserId(InitializationData* data, int32_t custom);
CORVEX_API void InitializationData_SetCustomConfigId(InitializationData* data, int32_t custom);

/* ---- Lifecycle and identity ---------------------------------------------- */
/* user and password are the HTTP Basic credentials at the tracking service;
 * the user (the application's key) also names the queue file in the save
 * folder, so that a queue is only ever sent under the key that accepted it.
 * data may be null (all defaults); it is read only during this call.
 * Waits for the disk: loading the saved queue, one sync of the queue file
 * (more when a crash left it to be written anew), writing the properties file;
 * up to about 100 ms more while another application claims the folder's queue. */
CORVEX_API TrackingManager* TrackingManager_Create(const char* user, const char* password,
                                                   const InitializationData* data);
/* Starts the worker and opens a session. Waits for reading the network
 * adapters (the open event's local address) and for the open event's append. */
CORVEX_API void TrackingManager_Start(TrackingManager* manager);
/* Notes the time the game lost focus. */
CORVEX_API void TrackingManager_OnPause(TrackingManager* manager);
/* Opens a new session after more than 30 s away; then waits as Start does. */
CORVEX_API void TrackingManager_OnResume(TrackingManager* manager);
/* Waits for writing the properties file (other calls go on meanwhile). */
CORVEX_API void TrackingManager_SetUserId(TrackingManager* manager, const char* userId);
/* Returns a new copy of the user id (never null); release it with free(). */
CORVEX_API char* TrackingManager_GetUserId(TrackingManager* manager);
CORVEX_API void TrackingManager_SetConfigId(TrackingManager* manager, const char* configId);
/* Returns a new copy of the library version, "0.0.1-cpp"; release it with free(). */
CORVEX_API char* TrackingManager_GetVersion(void);
/* Stops the worker. Waits for an HTTP attempt already on the wire, up to about
 * 5 s, then for one sync of the queue file. Queued events are kept (and saved
 * on stable storage) for a later start or the next run. */
CORVEX_API void TrackingManager_Stop(TrackingManager* manager);
/* Stops the worker if it runs and syncs the queue file (waiting as Stop does),
 * then releases the handle. Null is ignored. */
CORVEX_API void TrackingManager_Destroy(TrackingManager* manager);

/* ---- Transport options (take effect from the next request) --------------- */
CORVEX_API void TrackingManager_SetSendVerbose(TrackingManager* manager, int32_t verbose);
CORVEX_API void TrackingManager_SetSendProxy(TrackingManager* manager, const char* proxy);
CORVEX_API void TrackingManager_SetSendProxyCertificateAuthority(TrackingManager* manager,
                                                                 const char* caFilePath);
CORVEX_API void TrackingManager_SetSendCertificateAuthority(TrackingManager* manager,
                                                            const char* caFilePath);

/* ---- Typed events ----------------------------------------------------------
 * Ad placement types: 0 banner, 1 interstitial, 2 rewarded video.
 * Ad placements: -1 automatic, 0 bottom, 1 top, 2 left, 3 right, 4 fullscreen.
 * Tracking authorization: 0 not determined, 1 restricted, 2 denied, 3 authorized.
 * A result is success when non-zero.
 * Every tracking call, typed or custom, waits for its own append to the queue
 * file and for the queue's lock (taken by other appends and, briefly, by the
 * worker and the sync thread); never for the service. It never waits for a
 * sync but in one case: an append that must grow a ring whose entries run
 * round its end waits for one sync, which puts the moved entries on the disk
 * before the header that names them (a few times at most as a queue grows
 * towards 1000 events). A full queue (1000 events) refuses the event. */
CORVEX_API void TrackingManager_TrackBootStart(TrackingManager* manager);
CORVEX_API void TrackingManager_TrackBootEnd(TrackingManager* manager);
CORVEX_API void TrackingManager_TrackLevelStart(TrackingManager* manager, int32_t level,
                                                const char* label);
CORVEX_API void TrackingManager_TrackLevelEnd(TrackingManager* manager, int32_t level,
                                              const char* label, int32_t result);
CORVEX_API void TrackingManager_TrackAdLoad(TrackingManager* manager, const char* adUnit,
                                            int32_t placementType);
CORVEX_API void TrackingManager_TrackAdLoad2(TrackingManager* manager, const char* adUnit,
                                             int32_t placementType, int32_t placement);
CORVEX_API void TrackingManager_TrackAdClose(TrackingManager* manager, const char* adUnit,
                                             int32_t placementType);
CORVEX_API void TrackingManager_TrackAdClose2(TrackingManager* manager, const char* adUnit,
                                              int32_t placementType, int32_t placement);
CORVEX_API void TrackingManager_TrackAdClick(TrackingManager* manager, const char* adUnit,
                                             int32_t placementType);
CORVEX_API void TrackingManager_TrackAdClick2(TrackingManager* manager, const char* adUnit,
                                              int32_t placementType, int32_t placement);
CORVEX_API void TrackingManager_TrackAdImpression(TrackingManager* manager, const char* adUnit,
                                                  int32_t placementType);
CORVEX_API void TrackingManager_TrackAdImpression2(TrackingManager* manager, const char* adUnit,
                                                   int32_t placementType, int32_t placement);
CORVEX_API void TrackingManager_TrackIAPInitialization(TrackingManager* manager, int32_t result);
CORVEX_API void TrackingManager_TrackIAPRestorePurchase(TrackingManager* manager);
CORVEX_API void TrackingManager_TrackIAPBuyStart(TrackingManager* manager, const char* pack,
                                                 float price, int32_t amount, const char* currency);
CORVEX_API void TrackingManager_TrackIAPBuyEnd(TrackingManager* manager, const char* pack,
                                               float price, int32_t amount, const char* currency,
                                               int32_t result);
CORVEX_API void TrackingManager_TrackFacebookLogin(TrackingManager* manager,
                                                   const char* facebookId);
CORVEX_API void TrackingManager_TrackFacebookLogout(TrackingManager* manager,
                                                    const char* facebookId);
CORVEX_API void TrackingManager_TrackUpdateGame(TrackingManager* manager, const char* newVersion);
CORVEX_API void TrackingManager_TrackRateGame(TrackingManager* manager);
CORVEX_API void TrackingManager_TrackSoundMode(TrackingManager* manager, const char* soundMode);
CORVEX_API void TrackingManager_TrackAuthorizationTrackingStatus(TrackingManager* manager,
                                                                 int32_t status);
CORVEX_API void TrackingManager_TrackAccountLogin(TrackingManager* manager, const char* id,
                                                  const char* type);
CORVEX_API void TrackingManager_TrackAccountLogout(TrackingManager* manager, const char* id,
                                                   const char* type);
CORVEX_API void TrackingManager_TrackAccountLink(TrackingManager* manager, const char* id,
                                                 const char* type);
CORVEX_API void TrackingManager_TrackAccountUnlink(TrackingManager* manager, const char* id,
                                                   const char* type);
CORVEX_API void TrackingManager_TrackWalletLink(TrackingManager* manager, const char* wallet);
CORVEX_API void TrackingManager_TrackWalletLink2(TrackingManager* manager, const char* wallet,
                                                 const char* chain);
CORVEX_API void TrackingManager_TrackWalletUnlink(TrackingManager* manager, const char* wallet);
CORVEX_API void TrackingManager_TrackWalletUnlink2(TrackingManager* manager, const char* wallet,
                                                   const char* chain);
CORVEX_API void TrackingManager_TrackCryptoPayment(TrackingManager* manager, const char* pack,
                                                   float price, int32_t amount);
CORVEX_API void TrackingManager_TrackCryptoPayment2(TrackingManager* manager, const char* pack,
                                                    float price, int32_t amount,
                                                    const char* currency);
CORVEX_API void TrackingManager_TrackCryptoPayment3(TrackingManager* manager, const char* pack,
                                                    float price, int32_t amount,
                                                    const char* currency, const char* chain);

/* ---- Custom events ---------------------------------------------------------- */
CORVEX_API void TrackingManager_Track(TrackingManager* manager, const char* name);
CORVEX_API void TrackingManager_TrackWithIntValue(TrackingManager* manager, const char* name,
                                                  int32_t value);
CORVEX_API void TrackingManager_TrackWithStringValue(TrackingManager* manager, const char* name,
                                                     const char* value);
/* json is parsed as one JSON value; text that does not parse gives a null value. */
CORVEX_API void TrackingManager_TrackWithJsonValue(TrackingManager* manager, const char* name,
                                                   const char* json);

#ifdef __cplusplus
}
#endif

#endif /* CORVEX_TRACKING_H */
