#include <gtest/gtest.h>

#include "base/initialization_data.h"
#include "corvex/tracking.h"

using Record = Corvex::Tracking::InitializationData;

namespace {

struct RecordHolder {
    InitializationData* data = InitializationData_Create();
    ~RecordHolder() { InitializationData_Destroy(data); }
    const Record& fields() const { return *reinterpret_cast<const Record*>(data); }
};

}  // namespace

TEST(InitializationDataApi, FreshRecordHoldsTheDefaults) {
    RecordHolder record;
    const Record& f = record.fields();
    EXPECT_EQ(f.SavePath, "");
    EXPECT_EQ(f.UserId, "");
    EXPECT_EQ(f.ConfigId, "");
    EXPECT_EQ(f.AppVersion, "0.0.1");
    EXPECT_EQ(f.AppBuildNumber, "1");
    EXPECT_EQ(f.BundleId, "");
    EXPECT_EQ(f.Country, "");
    EXPECT_EQ(f.DeviceModel, "");
    EXPECT_EQ(f.StoreType, -1);
    EXPECT_EQ(f.MaxRetries, 3);
    EXPECT_EQ(f.InitialRetryInterval, 500);
    EXPECT_EQ(f.FlushQueueSize, 3);
    EXPECT_EQ(f.FlushSendSize, 50);
    EXPECT_EQ(f.QueueCheckInterval, 100);
    EXPECT_EQ(f.SendDelay, 1000);
    EXPECT_TRUE(f.EnableSave);
    EXPECT_FALSE(f.CustomUserId);
    EXPECT_FALSE(f.CustomConfigId);
}

TEST(InitializationDataApi, SettersStoreValuesAndTheLastOneWins) {
    RecordHolder record;
    InitializationData* d = record.data;
    InitializationData_SetSavePath(d, "/tmp/a");
    InitializationData_SetUserId(d, "user");
    InitializationData_SetConfigId(d, "cfg");
    InitializationData_SetAppVersion(d, "2.0");
    InitializationData_SetAppVersion(d, "");
    InitializationData_SetAppBuildNumber(d, "77");
    InitializationData_SetBundleId(d, "com.example");
    InitializationData_SetCountry(d, "FR");
    InitializationData_SetDeviceModel(d, "PC");
    InitializationData_SetStoreType(d, 7);
    InitializationData_SetMaxRetries(d, INT32_MIN);
    InitializationData_SetInitialRetryInterval(d, INT32_MAX);
    InitializationData_SetFlushQueueSize(d, 0);
    InitializationData_SetFlushSendSize(d, -4);
    InitializationData_SetQueueCheckInterval(d, -1);
    InitializationData_SetSendDelay(d, 5);
    const Record& f = record.fields();
    EXPECT_EQ(f.SavePath, "/tmp/a");
    EXPECT_EQ(f.UserId, "user");
    EXPECT_EQ(f.ConfigId, "cfg");
    EXPECT_EQ(f.AppVersion, "");
    EXPECT_EQ(f.AppBuildNumber, "77");
    EXPECT_EQ(f.BundleId, "com.example");
    EXPECT_EQ(f.Country, "FR");
    EXPECT_EQ(f.DeviceModel, "PC");
    EXPECT_EQ(f.StoreType, 7);
    EXPECT_EQ(f.MaxRetries, INT32_MIN);
    EXPECT_EQ(f.InitialRetryInterval, INT32_MAX);
    EXPECT_EQ(f.FlushQueueSize, 0);
    EXPECT_EQ(f.FlushSendSize, -4);
    EXPECT_EQ(f.QueueCheckInterval, -1);
    EXPECT_EQ(f.SendDelay, 5);
}

TEST(InitializationDataApi, FlagsAreTrueForAnyNonZeroValue) {
    RecordHolder record;
    const Record& f = record.fields();
    for (int32_t value : {2, -1, 1, INT32_MIN}) {
        InitializationData_SetEnableSave(record.data, 0);
        InitializationData_SetEnableSave(record.data, value);
        EXPECT_TRUE(f.EnableSave) << value;
        InitializationData_SetCustomUserId(record.data, value);
        EXPECT_TRUE(f.CustomUserId) << value;
        InitializationData_SetCustomConfigId(record.data, value);
        EXPECT_TRUE(f.CustomConfigId) << value;
    }
    InitializationData_SetEnableSave(record.data, 0);
    InitializationData_SetCustomUserId(record.data, 0);
    InitializationData_SetCustomConfigId(record.data, 0);
    EXPECT_FALSE(f.EnableSave);
    EXPECT_FALSE(f.CustomUserId);
    EXPECT_FALSE(f.CustomConfigId);
}

TEST(InitializationDataApi, NullRecordsAndTextsAreIgnored) {
    InitializationData_Destroy(nullptr);
    InitializationData_SetUserId(nullptr, "x");
    InitializationData_SetMaxRetries(nullptr, 1);
    InitializationData_SetEnableSave(nullptr, 0);
    RecordHolder record;
    InitializationData_SetUserId(record.data, "kept");
    InitializationData_SetUserId(record.data, nullptr);
    InitializationData_SetSavePath(record.data, nullptr);
    EXPECT_EQ(record.fields().UserId, "kept");
    EXPECT_EQ(record.fields().SavePath, "");
}

TEST(InitializationDataApi, TextsAreRepairedExceptThePath) {
    RecordHolder record;
    InitializationData_SetCountry(record.data, "F\xFFR");
    InitializationData_SetSavePath(record.data, "/tmp/\xFF");
    EXPECT_EQ(record.fields().Country, "F\xEF\xBF\xBDR");
    EXPECT_EQ(record.fields().SavePath, "/tmp/\xFF");
}
