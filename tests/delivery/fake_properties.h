// Properties for a sender under test, changed freely between sends.
#pragma once

#include <mutex>
#include <string>

#include "delivery/tracking_properties_getter.h"

namespace Corvex::Tracking::Testing {

class FakeProperties final : public TrackingPropertiesGetter {
public:
    std::string getUserId() const override { return read(userId); }
    std::string getConfigId() const override { return read(configId); }
    std::string getBundleId() const override { return read(bundleId); }
    std::string getCountry() const override { return read(country); }
    std::string getDeviceModel() const override { return read(deviceModel); }
    std::string getPlatform() const override { return read(platform); }
    std::string getOsVersion() const override { return read(osVersion); }
    std::string getAppVersion() const override { return read(appVersion); }
    std::string getAppBuildNumber() const override { return read(appBuildNumber); }

    // Replaces one property while a send may be reading them.
    void set(std::string FakeProperties::*property, const std::string& value) {
        std::lock_guard<std::mutex> lock(mutex);
        this->*property = value;
    }

    std::string userId = "user-1";
    std::string configId = "config-1";
    std::string bundleId = "com.example.game";
    std::string country = "FR";
    std::string deviceModel = "Desk 3";
    std::string platform = "Linux";
    std::string osVersion = "6.1.0";
    std::string appVersion = "1.4.0";
    std::string appBuildNumber = "7";

private:
    std::string read(const std::string& property) const {
        std::lock_guard<std::mutex> lock(mutex);
        return property;
    }
    mutable std::mutex mutex;
};

}  // namespace Corvex::Tracking::Testing
