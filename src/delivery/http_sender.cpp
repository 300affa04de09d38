#include "delivery/http_sender.h"

#include <curl/curl.h>

#include <utility>

#include "base/initialization_data.h"
#include "base/sdk_version.h"
#include "delivery/back_off.h"
#include "delivery/stop_signal.h"
#include "delivery/tracking_properties_getter.h"
#include "events/json_object_writer.h"
#include "events/tracking_event.h"
#include "platform/platform.h"

namespace Corvex::Tracking {

namespace {

// A whole attempt (connection, request and answer) ends after this long.
constexpr long ATTEMPT_TIMEOUT_SECONDS = 5;

// libcurl's write callback: accepts and drops the whole response body.
size_t discardResponse(char* /*data*/, size_t size, size_t count, void* /*user*/) {
    return size * count;
}

enum class Answer { Accepted, Retry, Refused };

// One PUT of the body, its outcome classified by the retry rule: 2xx is
// accepted; 4xx other than 429 is refused; transport errors, 429, 5xx, codes
// from 600 up and codes below 400 are worth another attempt.
Answer attempt(CURL* curl, const std::string& body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    // libcurl measures the body up to its NUL; JSON text holds no NUL byte.
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, -1L);
    if (curl_easy_perform(curl) != CURLE_OK) return Answer::Retry;
    long code = 0;  // stays 0, a retryable answer, if the code cannot be read
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200 && code <= 299) return Answer::Accepted;
    if (code == 429 || code < 400 || code >= 500) return Answer::Retry;
    return Answer::Refused;
}

}  // namespace

const std::string& eventEndpointUrl() {
    static const std::string url =
        std::string("https://") + CORVEX_SERVICE_HOST + "/tracking/v3/event";
    return url;
}

std::string base64Encode(const unsigned char* data, size_t length) {
    static constexpr char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t group =
            (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        text += ALPHABET[(group >> 18) & 0x3F];
        text += ALPHABET[(group >> 12) & 0x3F];
        text += ALPHABET[(group >> 6) & 0x3F];
        text += ALPHABET[group & 0x3F];
    }
    const size_t rest = length - i;
    if (rest > 0) {
        uint32_t group = uint32_t{data[i]} << 16;
        if (rest == 2) group |= uint32_t{data[i + 1]} << 8;
        text += ALPHABET[(group >> 18) & 0x3F];
        text += ALPHABET[(group >> 12) & 0x3F];
        text += rest == 2 ? ALPHABET[(group >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}

std::string makeBasicToken(const std::string& user, const std::string& password) {
    const std::string credentials = user + ":" + password;
    return base64Encode(reinterpret_cast<const unsigned char*>(credentials.data()),
                        credentials.size());
}

HttpSender::HttpSender(const InitializationData& settings, const std::string& basicToken,
                       const TrackingPropertiesGetter* propertiesGetter)
    : propertiesGetter(propertiesGetter),
      maxRetries(settings.MaxRetries),
      initialRetryInterval(settings.InitialRetryInterval) {
    // curl_easy_init makes libcurl's global initialisation on first use.
    curl = curl_easy_init();
    const std::string userAgentLine = std::string("User-Agent: corvex-tracking/") + SDK_VERSION;
    const std::string authorizationLine = "Authorization: Basic " + basicToken;
    for (const char* line : {"Accept: */*", "Accept-Encoding: deflate, gzip", userAgentLine.c_str(),
                             authorizationLine.c_str(), "Content-Type: application/json"}) {
        // On failure the list built so far stays valid and is kept.
        if (curl_slist* longer = curl_slist_append(headers, line)) headers = longer;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, ATTEMPT_TIMEOUT_SECONDS);
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discardResponse);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    // The release's libcurl knows no bundle of its own, so the system's is
    // found here, once per sender; a host's authority replaces it.
    const std::string bundle = Platform::systemCertificateBundle();
    if (!bundle.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, bundle.c_str());
}

HttpSender::~HttpSender() {
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

void HttpSender::send(const std::vector<const TrackingEvent*>& batch, const StopSignal& stop) {
    bool accepted = false;
    try {
        accepted = deliver(batch, stop);
    } catch (...) {
        // The body could not be made (a property that is not valid UTF-8) or
        // memory ran out. The batch is untouched and stays with the queue.
    }
    status = accepted ? Succeeded : Failed;
}

bool HttpSender::deliver(const std::vector<const TrackingEvent*>& batch, const StopSignal& stop) {
    // Built once: every attempt sends the same bytes. libcurl keeps a pointer
    // to the text, which lives until this call returns.
    const std::string body = buildBatchBody(batch);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(curl, CURLOPT_URL, eventEndpointUrl().c_str());
    for (int32_t n = 0;; ++n) {
        applyPendingOptions();
        switch (attempt(curl, body)) {
            case Answer::Accepted: return true;
            case Answer::Refused:
                // No further attempt; the long wait keeps the queue from
                // offering the refused batch again at once.
                stop.waitFor(backOffMilliseconds(maxRetries, initialRetryInterval));
                return false;
            case Answer::Retry: break;
        }
        if (n >= maxRetries) return false;
        // A raised stop signal ends the wait and the send.
        if (!stop.waitFor(backOffMilliseconds(n, initialRetryInterval))) return false;
    }
}

// The document is written directly, members in key order, as the JSON
// library's dump() of it gives them. Each event's part is the text the queue
// saved for it when there is one, so that a batch is not serialised again.
std::string HttpSender::buildBatchBody(const std::vector<const TrackingEvent*>& batch) const {
    const std::string userId = propertiesGetter->getUserId();
    const std::string bundleId = propertiesGetter->getBundleId();
    const std::string country = propertiesGetter->getCountry();
    const std::string deviceModel = propertiesGetter->getDeviceModel();
    const std::string platform = propertiesGetter->getPlatform();
    const std::string osVersion = propertiesGetter->getOsVersion();

    size_t eventBytes = 0;
    for (const TrackingEvent* event : batch) eventBytes += event->queuedText.size() + 1;
    std::string body;
    body.reserve(eventBytes + 256 + userId.size() + bundleId.size() + country.size() +
                 deviceModel.size() + platform.size() + osVersion.size());
    // Compact, raw UTF-8; invalid UTF-8 raises the JSON library's type error 316.
    JsonObjectWriter object(body);
    object.texts({{"bundleId", bundleId},
                  {"country", country},
                  {"device", deviceModel},
                  {"osVersion", osVersion},
                  {"platform", platform}});
    std::string& events = object.member("subMessages");
    events += '[';
    for (size_t i = 0; i < batch.size(); ++i) {
        if (i > 0) events += ',';
        const TrackingEvent& event = *batch[i];
        if (event.queuedText.empty()) {
            event.appendJsonText(events);
        } else {
            events += event.queuedText;
        }
    }
    events += ']';
    object.texts({{"vxSdkVersion", SDK_VERSION}, {"vxUid", userId}});
    object.close();
    return body;
}

void HttpSender::setVerbose(bool verbose) {
    std::lock_guard<std::mutex> lock(optionsMutex);
    pendingOptions.verbose = verbose;
}

void HttpSender::setProxy(const std::string& proxy) {
    std::lock_guard<std::mutex> lock(optionsMutex);
    pendingOptions.proxy = proxy;
}

void HttpSender::setProxyCertificateAuthority(const std::string& caFilePath) {
    std::lock_guard<std::mutex> lock(optionsMutex);
    pendingOptions.proxyCertificateAuthority = caFilePath;
}

void HttpSender::setCertificateAuthority(const std::string& caFilePath) {
    std::lock_guard<std::mutex> lock(optionsMutex);
    pendingOptions.certificateAuthority = caFilePath;
}

void HttpSender::applyPendingOptions() {
    PendingOptions options;
    {
        std::lock_guard<std::mutex> lock(optionsMutex);
        options = std::exchange(pendingOptions, PendingOptions());
    }
    // libcurl copies string options, so the values need not outlive this call.
    if (options.verbose) curl_easy_setopt(curl, CURLOPT_VERBOSE, *options.verbose ? 1L : 0L);
    if (options.proxy) curl_easy_setopt(curl, CURLOPT_PROXY, options.proxy->c_str());
    if (options.proxyCertificateAuthority) {
        curl_easy_setopt(curl, CURLOPT_PROXY_CAINFO, options.proxyCertificateAuthority->c_str());
        curl_easy_setopt(curl, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    }
    if (options.certificateAuthority) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, options.certificateAuthority->c_str());
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    }
}

}  // namespace Corvex::Tracking
