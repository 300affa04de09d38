// The configuration record that the host fills before it creates a manager.
#pragma once

#include <cstdint>
#include <string>

namespace Corvex::Tracking {

struct InitializationData {
    std::string SavePath;
    std::string UserId;
    std::string ConfigId;
    std::string AppVersion = "0.0.1";
    std::string AppBuildNumber = "1";
    std::string BundleId;
    std::string Country;
    std::string DeviceModel;
    int32_t StoreType = -1;
    int32_t MaxRetries = 3;
    int32_t InitialRetryInterval = 500;
    int32_t FlushQueueSize = 3;
    int32_t FlushSendSize = 50;
    int32_t QueueCheckInterval = 100;
    int32_t SendDelay = 1000;
    bool EnableSave = true;
    bool CustomUserId = false;
    bool CustomConfigId = false;
};

}  // namespace Corvex::Tracking
