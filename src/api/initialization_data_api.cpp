// The exported functions of the configuration record.
#include <new>

#include "api/api_guard.h"
#include "base/initialization_data.h"
#include "base/utf8.h"
#include "corvex/tracking.h"

using Record = Corvex::Tracking::InitializationData;
using Corvex::Tracking::guarded;
using Corvex::Tracking::repairUtf8;

namespace {

Record* record(InitializationData* data) {
    return reinterpret_cast<Record*>(data);
}

// Text setters ignore a null record or a null text. Texts are repaired to
// valid UTF-8 unless they are a path.
void setText(InitializationData* data, std::string Record::*field, const char* text,
             bool repair = true) {
    if (data == nullptr || text == nullptr) return;
    guarded([&] { record(data)->*field = repair ? repairUtf8(text) : std::string(text); });
}

void setNumber(InitializationData* data, int32_t Record::*field, int32_t value) {
    if (data != nullptr) record(data)->*field = value;
}

void setFlag(InitializationData* data, bool Record::*field, int32_t value) {
    if (data != nullptr) record(data)->*field = value != 0;
}

}  // namespace

extern "C" {

InitializationData* InitializationData_Create(void) {
    return reinterpret_cast<InitializationData*>(new (std::nothrow) Record());
}

void InitializationData_Destroy(InitializationData* data) {
    delete record(data);
}

void InitializationData_SetSavePath(InitializationData* data, const char* path) {
    setText(data, &Record::SavePath, path, false);
}
void InitializationData_SetUserId(InitializationData* data, const char* userId) {
    setText(data, &Record::UserId, userId);
}
void InitializationData_SetConfigId(InitializationData* data, const char* configId) {
    setText(data, &Record::ConfigId, configId);
}
void InitializationData_SetAppVersion(InitializationData* data, const char* appVersion) {
    setText(data, &Record::AppVersion, appVersion);
}
void InitializationData_SetAppBuildNumber(InitializationData* data, const char* appBuildNumber) {
    setText(data, &Record::AppBuildNumber, appBuildNumber);
}
void InitializationData_SetBundleId(InitializationData* data, const char* bundleId) {
    setText(data, &Record::BundleId, bundleId);
}
void InitializationData_SetCountry(InitializationData* data, const char* country) {
    setText(data, &Record::Country, country);
}
void InitializationData_SetDeviceModel(InitializationData* data, const char* deviceModel) {
    setText(data, &Record::DeviceModel, deviceModel);
}
void InitializationData_SetStoreType(InitializationData* data, int32_t storeType) {
    setNumber(data, &Record::StoreType, storeType);
}
void InitializationData_SetMaxRetries(InitializationData* data, int32_t maxRetries) {
    setNumber(data, &Record::MaxRetries, maxRetries);
}
void InitializationData_SetInitialRetryInterval(InitializationData* data, int32_t milliseconds) {
    setNumber(data, &Record::InitialRetryInterval, milliseconds);
}
void InitializationData_SetFlushQueueSize(InitializationData* data, int32_t events) {
    setNumber(data, &Record::FlushQueueSize, events);
}
void InitializationData_SetFlushSendSize(InitializationData* data, int32_t events) {
    setNumber(data, &Record::FlushSendSize, events);
}
void InitializationData_SetQueueCheckInterval(InitializationData* data, int32_t milliseconds) {
    setNumber(data, &Record::QueueCheckInterval, milliseconds);
}
void InitializationData_SetSendDelay(InitializationData* data, int32_t milliseconds) {
    setNumber(data, &Record::SendDelay, milliseconds);
}
void InitializationData_SetEnableSave(InitializationData* data, int32_t enable) {
    setFlag(data, &Record::EnableSave, enable);
}
void InitializationData_SetCustomUserId(InitializationData* data, int32_t custom) {
    setFlag(data, &Record::CustomUserId, custom);
}
void InitializationData_SetCustomConfigId(InitializationData* data, int32_t custom) {
    setFlag(data, &Record::CustomConfigId, custom);
}

}  // extern "C"
