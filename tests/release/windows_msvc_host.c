/*
 * A host as Visual Studio builds one, for tools/release/check-windows.sh: it
 * is compiled for the MSVC target with only the release's include/ folder and
 * linked with its corvex_tracking.lib, and no Windows SDK is at hand, so it
 * declares the few kernel32 and UCRT functions it calls and starts at
 * hostMain, without a C runtime start-up.
 *
 * From the environment: CORVEX_PROXY and CORVEX_CA (the test service),
 * CORVEX_SAVE (the save folder) and CORVEX_STOP (a file whose appearance ends
 * the run, once the service has the events). Reports three events, frees the
 * texts the library returned with the UCRT's free(), stops, and exits with 0.
 */
#include <corvex/tracking.h>

__declspec(dllimport) unsigned long __stdcall GetEnvironmentVariableA(const char* name,
                                                                      char* buffer,
                                                                      unsigned long size);
__declspec(dllimport) unsigned long __stdcall GetFileAttributesA(const char* path);
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) void free(void* block);
__declspec(dllimport) int puts(const char* text);

/* The MSVC target's code refers to it once floating point is used. */
int _fltused;

static const char* variable(const char* name, char* buffer, unsigned long size) {
    unsigned long length = GetEnvironmentVariableA(name, buffer, size);
    return length > 0 && length < size ? buffer : 0;
}

void hostMain(void) {
    char proxy[256], authority[512], save[512], stop[512];
    if (!variable("CORVEX_PROXY", proxy, sizeof proxy) ||
        !variable("CORVEX_CA", authority, sizeof authority) ||
        !variable("CORVEX_SAVE", save, sizeof save) ||
        !variable("CORVEX_STOP", stop, sizeof stop)) {
        puts("windows_msvc_host: CORVEX_PROXY, CORVEX_CA, CORVEX_SAVE and CORVEX_STOP are needed");
        ExitProcess(2);
    }

    InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, save);
    InitializationData_SetSendDelay(config, 50);
    TrackingManager* manager = TrackingManager_Create("release-host", "release-secret", config);
    InitializationData_Destroy(config);
    TrackingManager_SetSendProxy(manager, proxy);
    TrackingManager_SetSendCertificateAuthority(manager, authority);
    TrackingManager_Start(manager);
    TrackingManager_TrackLevelStart(manager, 1, "release");
    TrackingManager_TrackIAPBuyEnd(manager, "pack", 0.99f, 1, "EUR", 1);
    TrackingManager_TrackWithJsonValue(manager, "release_check", "{\"host\":\"msvc\"}");

    /* INVALID_FILE_ATTRIBUTES until the stop file is there; at most 2 min. */
    for (int i = 0; i < 1200 && GetFileAttributesA(stop) == 0xFFFFFFFFul; ++i) Sleep(100);

    char* version = TrackingManager_GetVersion();
    char* userId = TrackingManager_GetUserId(manager);
    int ok = version != 0 && userId != 0 && userId[0] != '\0';
    if (ok) puts(version);
    free(version);
    free(userId);
    TrackingManager_Stop(manager);
    TrackingManager_Destroy(manager);
    ExitProcess(ok ? 0 : 1);
}
