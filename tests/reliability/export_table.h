// The C signature of every exported function, so that tests can call each one
// generically: through dlsym on the built shared library, or through the
// addresses of the statically linked functions.
//
// A shape is the result, a colon, then one letter per argument:
//   D  InitializationData*      H  TrackingManager*      S  const char* (text)
//   I  int32_t                  F  float (a price)
// and as a result also v (nothing) and s (a char* the caller frees).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// X(name, shape) for every export.
#define CORVEX_EXPORT_TABLE(X)                                  \
    X(InitializationData_Create, "D:")                          \
    X(InitializationData_Destroy, "v:D")                        \
    X(InitializationData_SetSavePath, "v:DS")                   \
    X(InitializationData_SetUserId, "v:DS")                     \
    X(InitializationData_SetConfigId, "v:DS")                   \
    X(InitializationData_SetAppVersion, "v:DS")                 \
    X(InitializationData_SetAppBuildNumber, "v:DS")             \
    X(InitializationData_SetBundleId, "v:DS")                   \
    X(InitializationData_SetCountry, "v:DS")                    \
    X(InitializationData_SetDeviceModel, "v:DS")                \
    X(InitializationData_SetStoreType, "v:DI")                  \
    X(InitializationData_SetMaxRetries, "v:DI")                 \
    X(InitializationData_SetInitialRetryInterval, "v:DI")       \
    X(InitializationData_SetFlushQueueSize, "v:DI")             \
    X(InitializationData_SetFlushSendSize, "v:DI")              \
    X(InitializationData_SetQueueCheckInterval, "v:DI")         \
    X(InitializationData_SetSendDelay, "v:DI")                  \
    X(InitializationData_SetEnableSave, "v:DI")                 \
    X(InitializationData_SetCustomUserId, "v:DI")               \
    X(InitializationData_SetCustomConfigId, "v:DI")             \
    X(TrackingManager_Create, "H:SSD")                          \
    X(TrackingManager_Start, "v:H")                             \
    X(TrackingManager_OnPause, "v:H")                           \
    X(TrackingManager_OnResume, "v:H")                          \
    X(TrackingManager_SetUserId, "v:HS")                        \
    X(TrackingManager_GetUserId, "s:H")                         \
    X(TrackingManager_SetConfigId, "v:HS")                      \
    X(TrackingManager_GetVersion, "s:")                         \
    X(TrackingManager_Stop, "v:H")                              \
    X(TrackingManager_Destroy, "v:H")                           \
    X(TrackingManager_SetSendVerbose, "v:HI")                   \
    X(TrackingManager_SetSendProxy, "v:HS")                     \
    X(TrackingManager_SetSendProxyCertificateAuthority, "v:HS") \
    X(TrackingManager_SetSendCertificateAuthority, "v:HS")      \
    X(TrackingManager_TrackBootStart, "v:H")                    \
    X(TrackingManager_TrackBootEnd, "v:H")                      \
    X(TrackingManager_TrackLevelStart, "v:HIS")                 \
    X(TrackingManager_TrackLevelEnd, "v:HISI")                  \
    X(TrackingManager_TrackAdLoad, "v:HSI")                     \
    X(TrackingManager_TrackAdLoad2, "v:HSII")                   \
    X(TrackingManager_TrackAdClose, "v:HSI")                    \
    X(TrackingManager_TrackAdClose2, "v:HSII")                  \
    X(TrackingManager_TrackAdClick, "v:HSI")                    \
    X(TrackingManager_TrackAdClick2, "v:HSII")                  \
    X(TrackingManager_TrackAdImpression, "v:HSI")               \
    X(TrackingManager_TrackAdImpression2, "v:HSII")             \
    X(TrackingManager_TrackIAPInitialization, "v:HI")           \
    X(TrackingManager_TrackIAPRestorePurchase, "v:H")           \
    X(TrackingManager_TrackIAPBuyStart, "v:HSFIS")              \
    X(TrackingManager_TrackIAPBuyEnd, "v:HSFISI")               \
    X(TrackingManager_TrackFacebookLogin, "v:HS")               \
    X(TrackingManager_TrackFacebookLogout, "v:HS")              \
    X(TrackingManager_TrackUpdateGame, "v:HS")                  \
    X(TrackingManager_TrackRateGame, "v:H")                     \
    X(TrackingManager_TrackSoundMode, "v:HS")                   \
    X(TrackingManager_TrackAuthorizationTrackingStatus, "v:HI") \
    X(TrackingManager_TrackAccountLogin, "v:HSS")               \
    X(TrackingManager_TrackAccountLogout, "v:HSS")              \
    X(TrackingManager_TrackAccountLink, "v:HSS")                \
    X(TrackingManager_TrackAccountUnlink, "v:HSS")              \
    X(TrackingManager_TrackWalletLink, "v:HS")                  \
    X(TrackingManager_TrackWalletLink2, "v:HSS")                \
    X(TrackingManager_TrackWalletUnlink, "v:HS")                \
    X(TrackingManager_TrackWalletUnlink2, "v:HSS")              \
    X(TrackingManager_TrackCryptoPayment, "v:HSFI")             \
    X(TrackingManager_TrackCryptoPayment2, "v:HSFIS")           \
    X(TrackingManager_TrackCryptoPayment3, "v:HSFISS")          \
    X(TrackingManager_Track, "v:HS")                            \
    X(TrackingManager_TrackWithIntValue, "v:HSI")               \
    X(TrackingManager_TrackWithStringValue, "v:HSS")            \
    X(TrackingManager_TrackWithJsonValue, "v:HSS")

namespace Corvex::Tracking::Testing {

struct ExportEntry {
    std::string name;
    std::string shape;
    // The function's address; null until the caller resolves it.
    void* function = nullptr;
};

// Every export of the table, in the table's order, without addresses.
std::vector<ExportEntry> exportSignatures();

// One argument; the shape's letter says which member is read.
struct ExportArgument {
    void* pointer = nullptr;     // D, H
    const char* text = nullptr;  // S
    int32_t number = 0;          // I
    float price = 0;             // F
};

// The argument letters of a shape ("HSI" for "v:HSI").
std::string argumentKinds(const std::string& shape);
// The result letter of a shape.
char resultKind(const std::string& shape);

// Calls the function with the arguments (one per letter of the shape) and
// gives its result as a pointer (null for a function without one). Throws
// std::logic_error for a shape it does not know.
void* callExport(const ExportEntry& entry, const std::vector<ExportArgument>& arguments);

}  // namespace Corvex::Tracking::Testing
