/*
 * A short scripted game session reported through Corvex Tracking, written in
 * plain C to show that the header needs nothing else.
 *
 *   corvex-demo-game [--proxy URL] [--ca FILE] [--save DIR] [--user NAME] [--password SECRET]
 *
 * --proxy and --ca route the requests through a local tracking service; --save
 * picks the save folder; --help prints the usage. It prints the number of
 * events it tracked.
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

static const char USAGE[] =
    "usage: corvex-demo-game [--proxy URL] [--ca FILE] [--save DIR] [--user NAME]\n"
    "                        [--password SECRET]\n"
    "  --proxy URL        send through this proxy (a local tracking service)\n"
    "  --ca FILE          check the service against this certificate authority\n"
    "  --save DIR         keep the save folder here instead of the default one\n"
    "  --user NAME        the application's key (default demo-app)\n"
    "  --password SECRET  the application's secret (default demo-secret)\n"
    "  --help             print this and exit\n";

struct Options {
    const char* proxy;
    const char* ca;
    const char* save;
    const char* user;
    const char* password;
};

/* Reads the command line into options. Returns -1 to go on, otherwise the
 * exit status: 0 after --help, 2 after an unknown option or a missing value. */
static int parseOptions(int argc, char** argv, struct Options* options) {
    struct {
        const char* name;
        const char** value;
    } const known[] = {{"--proxy", &options->proxy},
                       {"--ca", &options->ca},
                       {"--save", &options->save},
                       {"--user", &options->user},
                       {"--password", &options->password}};
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(USAGE, stdout);
            return 0;
        }
        size_t k = 0;
        while (k < sizeof known / sizeof known[0] && strcmp(argv[i], known[k].name) != 0) ++k;
        if (k == sizeof known / sizeof known[0]) {
            fprintf(stderr, "corvex-demo-game: unknown option %s\n%s", argv[i], USAGE);
            return 2;
        }
        if (i + 1 == argc) {
            fprintf(stderr, "corvex-demo-game: %s needs a value\n%s", argv[i], USAGE);
            return 2;
        }
        *known[k].value = argv[++i];
    }
    return -1;
}

int main(int argc, char** argv) {
    struct Options options = {NULL, NULL, NULL, "demo-app", "demo-secret"};
    const int status = parseOptions(argc, argv, &options);
    if (status >= 0) return status;
    int tracked = 0;

    InitializationData* config = InitializationData_Create();
    InitializationData_SetAppVersion(config, "1.0.0");
    InitializationData_SetAppBuildNumber(config, "42");
    InitializationData_SetBundleId(config, "com.example.demogame");
    InitializationData_SetCountry(config, "FR");
    InitializationData_SetDeviceModel(config, "Demo PC");
    InitializationData_SetStoreType(config, 3);
    InitializationData_SetSendDelay(config, 200);
    if (options.save != NULL) InitializationData_SetSavePath(config, options.save);

    TrackingManager* tracker = TrackingManager_Create(options.user, options.password, config);
    InitializationData_Destroy(config);
    if (tracker == NULL) {
        fprintf(stderr, "could not create the tracking manager\n");
        return 1;
    }
    if (options.proxy != NULL) TrackingManager_SetSendProxy(tracker, options.proxy);
    if (options.ca != NULL) TrackingManager_SetSendCertificateAuthority(tracker, options.ca);

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
