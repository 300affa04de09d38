// The object behind the handle: identity, sessions, the properties file, and
// the sender and queue it owns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/storage.h"
#include "delivery/tracking_properties_getter.h"
#include "events/tracking_event.h"
#include "queue/queue_manager_monitor.h"

namespace Corvex::Tracking {

class HttpSender;
class QueueManager;
struct InitializationData;

class TrackingManager final : public QueueManagerMonitor, public TrackingPropertiesGetter {
public:
    static constexpr int64_t SESSION_TIMEOUT_MS = 30000;
    // Milliseconds since 1970; tests pass their own clock.
    using Clock = std::function<int64_t()>;

    // user and password are the HTTP Basic credentials; config may be null
    // (all defaults) and is read only during construction. Tests may pass
    // their own writer of the properties file.
    TrackingManager(const std::string& user, const std::string& password,
                    const InitializationData* config, Clock clock = nullptr,
                    Storage::Writer propertiesWriter = nullptr);
    // Stops the worker if it still runs.
    ~TrackingManager();
    TrackingManager(const TrackingManager&) = delete;
    TrackingManager& operator=(const TrackingManager&) = delete;

    // Starts the worker unless it runs, then opens a session.
    void start();
    // Stops the worker; the queue is kept for a later start or the next run.
    void stop();
    void onPause();
    void onResume();

    // Stores the id in the properties file before it returns, without holding
    // up Track calls and the worker while the file is written.
    void setUserId(const std::string& userId);
    void setConfigId(const std::string& configId);

    // The transport's options, handed to the sender for its next attempt.
    void setSendVerbose(bool verbose);
    void setSendProxy(const std::string& proxy);
    void setSendProxyCertificateAuthority(const std::string& caFilePath);
    void setSendCertificateAuthority(const std::string& caFilePath);

    // True when both the user id and the config id are non-empty.
    bool canSend() override;

    std::string getUserId() const override;
    std::string getConfigId() const override;
    std::string getBundleId() const override;
    std::string getCountry() const override;
    std::string getDeviceModel() const override;
    std::string getPlatform() const override;
    std::string getOsVersion() const override;
    std::string getAppVersion() const override;
    std::string getAppBuildNumber() const override;

    // A record stamped with a new id, the time, the name and the current
    // session id, config id and app version; value reset to null on request.
    std::unique_ptr<TrackingEvent> createEvent(std::string_view name, bool resetValue);
    // Makes an event, lets fill set its payload, and queues it. False when the
    // queue refused it.
    template <typename Fill>
    bool track(std::string_view name, bool resetValue, Fill&& fill) {
        std::unique_ptr<TrackingEvent> event = createEvent(name, resetValue);
        fill(*event);
        return enqueue(std::move(event));
    }
    bool enqueue(std::unique_ptr<TrackingEvent> event);

    // Boot events: the start stamps the time, the end reports the time since.
    void trackBootStart();
    void trackBootEnd();
    void trackIntValue(const std::string& name, int32_t value);
    void trackStringValue(const std::string& name, const std::string& text);

    int32_t storeType() const { return storeTypeValue; }
    QueueManager& queue() { return *queueManager; }
    std::string savePath() const { return saveFolder; }
    std::string sessionId() const;

private:
    void openSession();
    // Fills every field but the event's id (made before the lock) and the
    // value from the identity of the moment; stateMutex must be held.
    void stampLocked(TrackingEvent& event, std::string_view name, int64_t now) const;
    static std::string defaultSavePath(const std::string& relative);
    static bool createDirectories(const std::string& path);

    Clock clock;
    // Guards the fields below that host calls change while the worker and
    // other host threads read them.
    mutable std::mutex stateMutex;
    // Serialises start and stop, which must not hold stateMutex while the
    // worker is joined.
    std::mutex lifecycleMutex;
    // Guards storage and storedGeneration: the properties file is written
    // under it, never under stateMutex.
    std::mutex storageMutex;
    // Counts the user ids set (under stateMutex); a write of an older id than
    // the one stored (under storageMutex) is skipped, so the file ends with
    // the last id set.
    uint64_t userIdGeneration = 0;
    uint64_t storedGeneration = 0;

    std::string saveFolder;
    bool firstOpen = false;
    int64_t bootStartTimeMs = 0;
    int64_t lastActiveTimeMs = 0;
    std::string userId;
    std::string configId;
    std::string currentSessionId;
    bool started = false;

    // Fixed after construction.
    std::string appVersion;
    std::string appBuildNumber;
    std::string bundleId;
    std::string country;
    std::string deviceModel;
    int32_t storeTypeValue = -1;
    std::string platform;
    std::string osVersion;

    // Owned parts, destroyed in the order storage, queue, sender.
    std::unique_ptr<HttpSender> httpSender;
    std::unique_ptr<QueueManager> queueManager;
    std::unique_ptr<Storage> storage;
};

}  // namespace Corvex::Tracking
