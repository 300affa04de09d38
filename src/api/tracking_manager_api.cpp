// The exported functions of the handle's lifecycle, identity and transport.
#include <new>

#include "api/manager_handle.h"
#include "base/sdk_version.h"
#include "base/utf8.h"
#include "platform/platform.h"

using Corvex::Tracking::guarded;
using Corvex::Tracking::managerOf;
using Corvex::Tracking::textFromHost;
using Corvex::Tracking::withManager;
using Manager = Corvex::Tracking::TrackingManager;
using Record = Corvex::Tracking::InitializationData;

extern "C" {

TrackingManager* TrackingManager_Create(const char* user, const char* password,
                                        const InitializationData* data) {
    Manager* manager = nullptr;
    guarded([&] {
        // The credentials are used byte for byte, as the service knows them.
        manager = new Manager(user ? user : "", password ? password : "",
                              reinterpret_cast<const Record*>(data));
    });
    return reinterpret_cast<TrackingManager*>(manager);
}

void TrackingManager_Destroy(TrackingManager* manager) {
    guarded([&] { delete managerOf(manager); });
}

void TrackingManager_Start(TrackingManager* manager) {
    withManager(manager, [](Manager& m) { m.start(); });
}

void TrackingManager_Stop(TrackingManager* manager) {
    withManager(manager, [](Manager& m) { m.stop(); });
}

void TrackingManager_OnPause(TrackingManager* manager) {
    withManager(manager, [](Manager& m) { m.onPause(); });
}

void TrackingManager_OnResume(TrackingManager* manager) {
    withManager(manager, [](Manager& m) { m.onResume(); });
}

void TrackingManager_SetUserId(TrackingManager* manager, const char* userId) {
    if (userId == nullptr) return;  // a null text must not wipe the stored id
    withManager(manager, [&](Manager& m) { m.setUserId(textFromHost(userId)); });
}

char* TrackingManager_GetUserId(TrackingManager* manager) {
    std::string userId;
    withManager(manager, [&](Manager& m) { userId = m.getUserId(); });
    return Corvex::Tracking::Platform::duplicateForHost(userId);
}

void TrackingManager_SetConfigId(TrackingManager* manager, const char* configId) {
    if (configId == nullptr) return;
    withManager(manager, [&](Manager& m) { m.setConfigId(textFromHost(configId)); });
}

char* TrackingManager_GetVersion(void) {
    return Corvex::Tracking::Platform::duplicateForHost(Corvex::Tracking::SDK_VERSION);
}

void TrackingManager_SetSendVerbose(TrackingManager* manager, int32_t verbose) {
    withManager(manager, [&](Manager& m) { m.setSendVerbose(verbose != 0); });
}

// The proxy and the certificate files are handed to the transport as given;
// a null text is ignored so that it cannot switch checks to an empty file.
void TrackingManager_SetSendProxy(TrackingManager* manager, const char* proxy) {
    if (proxy == nullptr) return;
    withManager(manager, [&](Manager& m) { m.setSendProxy(proxy); });
}

void TrackingManager_SetSendProxyCertificateAuthority(TrackingManager* manager,
                                                      const char* caFilePath) {
    if (caFilePath == nullptr) return;
    withManager(manager, [&](Manager& m) { m.setSendProxyCertificateAuthority(caFilePath); });
}

void TrackingManager_SetSendCertificateAuthority(TrackingManager* manager, const char* caFilePath) {
    if (caFilePath == nullptr) return;
    withManager(manager, [&](Manager& m) { m.setSendCertificateAuthority(caFilePath); });
}

}  // extern "C"
