#include "bench_manager.h"

#include <chrono>
#include <thread>

#include "api/manager_handle.h"
#include "latency_recorder.h"
#include "queue/queue_manager.h"
#include "support/tracking_service.h"

namespace Corvex::Tracking::Bench {

BenchManager::BenchManager(const ManagerSetup& setup) {
    ::InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, setup.saveFolder.c_str());
    InitializationData_SetAppVersion(config, "1.4.0");
    InitializationData_SetBundleId(config, "com.example.game");
    InitializationData_SetCountry(config, "FR");
    InitializationData_SetDeviceModel(config, "Rig");
    InitializationData_SetStoreType(config, 1);
    if (!setup.deliver) InitializationData_SetCustomUserId(config, 1);
    if (setup.queueCheckInterval > 0) {
        InitializationData_SetQueueCheckInterval(config, setup.queueCheckInterval);
    }
    if (setup.flushSendSize > 0) InitializationData_SetFlushSendSize(config, setup.flushSendSize);
    manager = TrackingManager_Create("game-key", "game-secret", config);
    InitializationData_Destroy(config);
    if (setup.service != nullptr) {
        TrackingManager_SetSendProxy(manager, setup.service->proxyUrl().c_str());
        TrackingManager_SetSendCertificateAuthority(manager, setup.service->caFile().c_str());
    }
    if (setup.start) TrackingManager_Start(manager);
}

BenchManager::~BenchManager() {
    TrackingManager_Stop(manager);
    TrackingManager_Destroy(manager);
}

int32_t BenchManager::pending() const {
    return managerOf(manager)->queue().pendingCount();
}

void BenchManager::drain() {
    QueueManager& queue = managerOf(manager)->queue();
    queue.retireOldest(queue.pendingCount());
}

bool BenchManager::waitUntilEmpty(int64_t timeoutMs) const {
    const int64_t deadline = nowNs() + timeoutMs * 1000000;
    while (pending() > 0) {
        if (nowNs() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace Corvex::Tracking::Bench
