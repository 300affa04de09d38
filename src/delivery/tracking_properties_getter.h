#pragma once

#include <string>

namespace Corvex::Tracking {

// The identity and device properties that every request carries, read by the
// sender on the worker thread. Each getter returns a copy taken under the
// owner's guard, so a host thread may change a value at the same time.
class TrackingPropertiesGetter {
public:
    virtual std::string getUserId() const = 0;
    virtual std::string getConfigId() const = 0;
    virtual std::string getBundleId() const = 0;
    virtual std::string getCountry() const = 0;
    virtual std::string getDeviceModel() const = 0;
    virtual std::string getPlatform() const = 0;
    virtual std::string getOsVersion() const = 0;
    virtual std::string getAppVersion() const = 0;
    virtual std::string getAppBuildNumber() const = 0;

protected:
    ~TrackingPropertiesGetter() = default;
};

}  // namespace Corvex::Tracking
