#include "core/tracking_manager.h"

#include <algorithm>

#include "base/initialization_data.h"
#include "base/text_copy.h"
#include "core/device_info.h"
#include "core/storage.h"
#include "delivery/http_sender.h"
#include "events/event_catalogue.h"
#include "platform/platform.h"
#include "queue/queue_manager.h"

namespace Corvex::Tracking {

namespace {
constexpr const char* SAVE_FOLDER_NAME = "Corvex/Tracking";
constexpr const char* PROPERTIES_FILE = ".properties";
constexpr const char* USER_ID_KEY = "userId";
}  // namespace

TrackingManager::TrackingManager(const std::string& user, const std::string& password,
                                 const InitializationData* config, Clock clockFunction,
                                 Storage::Writer propertiesWriter)
    : clock(clockFunction ? std::move(clockFunction) : Clock(Platform::nowMs)) {
    platform = describePlatform();
    osVersion = describeOsVersion();

    const InitializationData defaults;
    const InitializationData& settings = config ? *config : defaults;
    userId = settings.UserId;
    configId = settings.ConfigId;
    appVersion = settings.AppVersion;
    appBuildNumber = settings.AppBuildNumber;
    bundleId = settings.BundleId;
    country = settings.Country;
    deviceModel = settings.DeviceModel;
    storeTypeValue = settings.StoreType;

    if (settings.EnableSave) {
        saveFolder =
            settings.SavePath.empty() ? defaultSavePath(SAVE_FOLDER_NAME) : settings.SavePath;
        createDirectories(saveFolder);
        storage = std::make_unique<Storage>(saveFolder, std::move(propertiesWriter));
        storage->setFileName(PROPERTIES_FILE);
        storage->load();
        const std::string storedId = storage->getString(USER_ID_KEY);
        if (!userId.empty()) {
            // A given id that differs from the stored one starts a new user.
            if (storedId != userId) {
                firstOpen = true;
                storage->setString(USER_ID_KEY, userId);
                storage->save();
            }
        } else if (!storedId.empty()) {
            userId = storedId;
        } else {
            firstOpen = true;
            if (!settings.CustomUserId) {
                userId = makeUuid();
                storage->setString(USER_ID_KEY, userId);
                storage->save();
            }
        }
    } else if (userId.empty() && !settings.CustomUserId) {
        userId = makeUuid();
    }

    if (configId.empty() && !settings.CustomConfigId) configId = "default";

    httpSender = std::make_unique<HttpSender>(settings, makeBasicToken(user, password), this);
    // The queue is saved under the first credential, the application's key.
    queueManager =
        std::make_unique<QueueManager>(settings, this, httpSender.get(), saveFolder, user);
}

TrackingManager::~TrackingManager() {
    // The worker reads this manager and its sender: end it before anything goes.
    stop();
}

std::string TrackingManager::defaultSavePath(const std::string& relative) {
    std::string path = Platform::localAppDataFolder() + Platform::PATH_SEPARATOR + relative;
    std::replace(path.begin(), path.end(), '/', Platform::PATH_SEPARATOR);
    return path;
}

bool TrackingManager::createDirectories(const std::string& path) {
    switch (Platform::makeDirectory(path)) {
        case Platform::MakeDirResult::Created: return true;
        case Platform::MakeDirResult::AlreadyExists: return Platform::isDirectory(path);
        case Platform::MakeDirResult::Failed: return false;
        case Platform::MakeDirResult::ParentMissing: break;
    }
    const size_t cut = path.find_last_of(Platform::PATH_SEPARATORS);
    if (cut == std::string::npos || cut == 0) return false;
    if (!createDirectories(path.substr(0, cut))) return false;
    return Platform::makeDirectory(path) == Platform::MakeDirResult::Created;
}

void TrackingManager::start() {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    // Without a worker the manager stays as it was, ready for a later start.
    if (!queueManager->isRunning() && !queueManager->startWorker()) return;
    openSession();
    std::lock_guard<std::mutex> lock(stateMutex);
    started = true;
}

void TrackingManager::stop() {
    std::lock_guard<std::mutex> lifecycle(lifecycleMutex);
    queueManager->stopWorker();
    std::lock_guard<std::mutex> lock(stateMutex);
    started = false;
}

void TrackingManager::onPause() {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (started) lastActiveTimeMs = clock();
}

void TrackingManager::onResume() {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (!started) return;
    }
    openSession();
}

void TrackingManager::openSession() {
    std::unique_ptr<TrackingEvent> event;
    std::string sessionConfigId;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const int64_t now = clock();
        // A gap of up to 30000 ms since the last opening or pause keeps the
        // session; a clock set back gives a negative gap, which keeps it too.
        if (!currentSessionId.empty() && now - lastActiveTimeMs <= SESSION_TIMEOUT_MS) return;
        lastActiveTimeMs = now;
        currentSessionId = makeUuid();
        event = queueManager->acquireEvent();
        makeUuid(event->eId);
        stampLocked(*event, firstOpen ? Catalogue::FIRST_OPEN : Catalogue::OPEN, now);
        firstOpen = false;
        sessionConfigId = configId;
    }
    event->setOpenValue(localIpAddress(), country, deviceModel, osVersion, appVersion,
                        appBuildNumber, sessionConfigId);
    queueManager->enqueue(std::move(event));
}

void TrackingManager::setUserId(const std::string& newUserId) {
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (newUserId == userId) return;
        userId = newUserId;
        generation = ++userIdGeneration;
    }
    if (!storage) return;
    std::lock_guard<std::mutex> lock(storageMutex);
    if (generation < storedGeneration) return;  // a later id is stored already
    storedGeneration = generation;
    storage->setString(USER_ID_KEY, newUserId);
    storage->save();
}

void TrackingManager::setConfigId(const std::string& newConfigId) {
    std::lock_guard<std::mutex> lock(stateMutex);
    configId = newConfigId;
}

bool TrackingManager::canSend() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return !userId.empty() && !configId.empty();
}

std::string TrackingManager::getUserId() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return userId;
}

std::string TrackingManager::getConfigId() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return configId;
}

std::string TrackingManager::getBundleId() const {
    return bundleId;
}
std::string TrackingManager::getCountry() const {
    return country;
}
std::string TrackingManager::getDeviceModel() const {
    return deviceModel;
}
std::string TrackingManager::getPlatform() const {
    return platform;
}
std::string TrackingManager::getOsVersion() const {
    return osVersion;
}
std::string TrackingManager::getAppVersion() const {
    return appVersion;
}
std::string TrackingManager::getAppBuildNumber() const {
    return appBuildNumber;
}

void TrackingManager::setSendVerbose(bool verbose) {
    httpSender->setVerbose(verbose);
}
void TrackingManager::setSendProxy(const std::string& proxy) {
    httpSender->setProxy(proxy);
}
void TrackingManager::setSendProxyCertificateAuthority(const std::string& caFilePath) {
    httpSender->setProxyCertificateAuthority(caFilePath);
}
void TrackingManager::setSendCertificateAuthority(const std::string& caFilePath) {
    httpSender->setCertificateAuthority(caFilePath);
}

std::string TrackingManager::sessionId() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return currentSessionId;
}

// Assignments into the record's strings reuse their buffers, so a recycled
// record is stamped without allocating.
void TrackingManager::stampLocked(TrackingEvent& event, std::string_view name, int64_t now) const {
    event.timeInMs = now;
    copyText(event.eventName, name);
    copyText(event.id, currentSessionId);
    copyText(event.cfgId, configId);
    copyText(event.appVersion, appVersion);
}

std::unique_ptr<TrackingEvent> TrackingManager::createEvent(std::string_view name,
                                                            bool resetValue) {
    std::unique_ptr<TrackingEvent> event = queueManager->acquireEvent();
    // Made before the identity mutex, which other threads' calls and the
    // worker wait for.
    makeUuid(event->eId);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        stampLocked(*event, name, clock());
    }
    if (resetValue) event->value = nullptr;
    return event;
}

bool TrackingManager::enqueue(std::unique_ptr<TrackingEvent> event) {
    return queueManager->enqueue(std::move(event));
}

void TrackingManager::trackBootStart() {
    std::unique_ptr<TrackingEvent> event = queueManager->acquireEvent();
    makeUuid(event->eId);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        bootStartTimeMs = clock();
        stampLocked(*event, Catalogue::BOOT_START, bootStartTimeMs);
    }
    event->value = nullptr;
    enqueue(std::move(event));
}

void TrackingManager::trackBootEnd() {
    std::unique_ptr<TrackingEvent> event = queueManager->acquireEvent();
    makeUuid(event->eId);
    int64_t bootTime = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const int64_t now = clock();
        bootTime = now - bootStartTimeMs;
        stampLocked(*event, Catalogue::BOOT_END, now);
    }
    event->setBootTimeValue(bootTime);
    enqueue(std::move(event));
}

void TrackingManager::trackIntValue(const std::string& name, int32_t value) {
    track(name, false, [value](TrackingEvent& event) { event.setIntValue(value); });
}

void TrackingManager::trackStringValue(const std::string& name, const std::string& text) {
    track(name, false, [&text](TrackingEvent& event) { event.setStringValue(text); });
}

}  // namespace Corvex::Tracking
