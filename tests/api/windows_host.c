/* A host program in C: it loads corvex_tracking.dll from its own folder
 * through the import library, drives a manager, and releases every returned
 * text with the C runtime's free(), as a host built with MSVC does. The texts
 * must live in the heap of this program's C runtime (the UCRT), the one its
 * free() releases to. Prints what failed and exits 1, or exits 0. */
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "corvex/tracking.h"

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "failed: %s\n", what);
        ++failures;
    }
}

/* Checks one returned text and releases it with free(). */
static void checkText(char* text, const char* expected, const char* what) {
    check(text != NULL && strcmp(text, expected) == 0, what);
    if (text != NULL) {
        check(HeapValidate((HANDLE)_get_heap_handle(), 0, text), "text in the C runtime's heap");
    }
    free(text);
}

int main(void) {
    char folder[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    check(length > 0 && length < MAX_PATH - 40, "temporary folder");
    snprintf(folder + length, MAX_PATH - length, "corvex_host_%lu", GetCurrentProcessId());

    InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, folder);
    InitializationData_SetUserId(config, "host-user");
    TrackingManager* manager = TrackingManager_Create("key", "secret", config);
    InitializationData_Destroy(config);
    check(manager != NULL, "TrackingManager_Create");

    for (int i = 0; i < 100; ++i) {
        checkText(TrackingManager_GetVersion(), "0.0.1-cpp", "TrackingManager_GetVersion");
        checkText(TrackingManager_GetUserId(manager), "host-user", "TrackingManager_GetUserId");
    }
    TrackingManager_SetUserId(manager, "\xC3\xA9t\xC3\xA9");
    checkText(TrackingManager_GetUserId(manager), "\xC3\xA9t\xC3\xA9", "a UTF-8 user id");
    TrackingManager_Destroy(manager);

    check(GetModuleHandleA("corvex_tracking.dll") != NULL, "corvex_tracking.dll loaded");

    const char* files[] = {".properties", ".event_queue", ".event_queue.lock",
                           ".event_queue.owner"};
    for (size_t i = 0; i < sizeof files / sizeof files[0]; ++i) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s", folder, files[i]);
        DeleteFileA(path);
    }
    check(RemoveDirectoryA(folder), "the save folder holds only the library's files");

    if (failures == 0) printf("windows_host: every check passed\n");
    return failures == 0 ? 0 : 1;
}
