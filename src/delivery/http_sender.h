// Delivers batches as one authenticated HTTPS PUT each, with retries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "delivery/sender.h"

struct curl_slist;

namespace Corvex::Tracking {

struct InitializationData;
class TrackingPropertiesGetter;

// The event endpoint, https://<service host>/tracking/v3/event.
const std::string& eventEndpointUrl();

// Standard Base64 (RFC 4648 section 4) with padding and no line breaks.
std::string base64Encode(const unsigned char* data, size_t length);
// base64Encode of user, ":" and password, their bytes unchanged.
std::string makeBasicToken(const std::string& user, const std::string& password);

class HttpSender final : public Sender {
public:
    HttpSender(const InitializationData& settings, const std::string& basicToken,
               const TrackingPropertiesGetter* propertiesGetter);
    ~HttpSender();
    HttpSender(const HttpSender&) = delete;
    HttpSender& operator=(const HttpSender&) = delete;

    void send(const std::vector<const TrackingEvent*>& batch, const StopSignal& stop) override;

    // The request body: the properties and the events under "subMessages".
    std::string buildBatchBody(const std::vector<const TrackingEvent*>& batch) const;

    // Transport options. They may be called from any thread at any time: the
    // values are kept under a small lock and applied to the connection before
    // the next attempt.
    void setVerbose(bool verbose);
    void setProxy(const std::string& proxy);
    void setProxyCertificateAuthority(const std::string& caFilePath);
    void setCertificateAuthority(const std::string& caFilePath);

private:
    // Option values set since the last attempt; each replaces the one before.
    struct PendingOptions {
        std::optional<bool> verbose;
        std::optional<std::string> proxy;
        std::optional<std::string> proxyCertificateAuthority;
        std::optional<std::string> certificateAuthority;
    };

    // The attempts of one send; true once the service has accepted the batch.
    bool deliver(const std::vector<const TrackingEvent*>& batch, const StopSignal& stop);
    // Hands the pending option values to the connection (worker thread only).
    void applyPendingOptions();

    void* curl = nullptr;           // the libcurl easy handle, owned; null if libcurl made none
    curl_slist* headers = nullptr;  // the five request header lines, owned
    const TrackingPropertiesGetter* propertiesGetter;
    int32_t maxRetries;
    int32_t initialRetryInterval;

    std::mutex optionsMutex;
    PendingOptions pendingOptions;  // guarded by optionsMutex
};

}  // namespace Corvex::Tracking
