/*
 * A short scripted game session reported through Corvex Tracking, written in
 * plain C to show that the header needs nothing else.
 *
 *   corvex-demo-game [--proxy URL] [--ca FILE] [--save DIR] [--user NAME] [--password SECRET]
 *
 * --proxy and --ca route the requests through a local tracking service; --save
 * picks the save folder. It prints the number of events it tracked.
 */
#ifndef _WIN32
#define _POSIX_C_SOURCE 199309L /* nanosleep under strict C99 */
#endif
#include <corvex/tracking.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
static void sleepMs(unsigned ms) {
    Sleep(ms);
}
#else
#include <time.h>
static void sleepMs(unsigned ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&ts, NULL);
}
#endif

static const char* option(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

int main(int argc, char** argv) {
    const char* proxy = option(argc, argv, "--proxy", NULL);
    const char* ca = option(argc, argv, "--ca", NULL);
    const char* save = option(argc, argv, "--save", NULL);
    const char* user = option(argc, argv, "--user", "demo-app");
    const char* password = option(argc, argv, "--password", "demo-secret");
    int tracked = 0;

    InitializationData* config = InitializationData_Create();
    InitializationData_SetAppVersion(config, "1.0.0");
    InitializationData_SetAppBuildNumber(config, "42");
    InitializationData_SetBundleId(config, "com.example.demogame");
    InitializationData_SetCountry(config, "FR");
    InitializationData_SetDeviceModel(config, "Demo PC");
    InitializationData_SetStoreType(config, 3);
    InitializationData_SetSendDelay(config, 200);
    if (save != NULL) InitializationData_SetSavePath(config, save);

    TrackingManager* tracker = TrackingManager_Create(user, password, config);
    InitializationData_Destroy(config);
    if (tracker == NULL) {
        fprintf(stderr, "could not create the tracking manager\n");
        return 1;
    }
    if (proxy != NULL) TrackingManager_SetSendProxy(tracker, proxy);
    if (ca != NULL) TrackingManager_SetSendCertificateAuthority(tracker, ca);

    char* version = TrackingManager_GetVersion();
    char* userId = TrackingManager_GetUserId(tracker);
    printf("Corvex Tracking %s, user %s\n", version, userId);
    free(version);
    free(userId);

    TrackingManager_TrackBootStart(tracker), ++tracked;
    TrackingManager_Start(tracker), ++tracked; /* opens a session: one open event */
    sleepMs(120);
    TrackingManager_TrackBootEnd(tracker), ++tracked;

    TrackingManager_TrackLevelStart(tracker, 1, "meadow"), ++tracked;
    TrackingManager_TrackLevelEnd(tracker, 1, "meadow", 1), ++tracked;
    TrackingManager_TrackLevelStart(tracker, 2, "cavern"), ++tracked;
    TrackingManager_TrackLevelEnd(tracker, 2, "cavern", 0), ++tracked;

    TrackingManager_TrackAdLoad(tracker, "interstitial-main", 1), ++tracked;
    TrackingManager_TrackAdImpression(tracker, "interstitial-main", 1), ++tracked;
    TrackingManager_TrackAdClose(tracker, "interstitial-main", 1), ++tracked;

    TrackingManager_TrackIAPBuyStart(tracker, "gems_100", 0.99f, 100, "EUR"), ++tracked;
    TrackingManager_TrackIAPBuyEnd(tracker, "gems_100", 0.99f, 100, "EUR", 1), ++tracked;
    TrackingManager_TrackAccountLogin(tracker, "player-7", "email"), ++tracked;

    TrackingManager_OnPause(tracker);
    sleepMs(100);
    TrackingManager_OnResume(tracker); /* back within 30 s: same session */

    TrackingManager_TrackLevelStart(tracker, 2, "cavern"), ++tracked;
    TrackingManager_TrackWithJsonValue(tracker, "boss_defeated",
                                       "{\"boss\":\"hydra\",\"seconds\":74,\"perfect\":true}"),
        ++tracked;
    TrackingManager_TrackLevelEnd(tracker, 2, "cavern", 1), ++tracked;

    /* Stopping never sends the queue: give the worker time to deliver first. */
    sleepMs(1500);
    TrackingManager_Stop(tracker);
    TrackingManager_Destroy(tracker);
    printf("tracked %d events\n", tracked);
    return 0;
}
