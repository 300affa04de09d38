#include "support/tracking_service.h"

#include <strings.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>

#include "service/connect_proxy.h"
#include "service/host_certificates.h"
#include "service/service_endpoint.h"
#include "support/test_authority.h"

namespace Corvex::Tracking::Testing {

namespace {

using nlohmann::json;

Reply replyFromJson(const json& object) {
    Reply reply;
    reply.status = object.value("status", reply.status);
    reply.delayMs = object.value("delayMs", reply.delayMs);
    reply.dropConnection = object.value("dropConnection", reply.dropConnection);
    return reply;
}

std::string makeTemporaryFolder() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int tries = 0; tries < 100; ++tries) {
        const std::filesystem::path folder = base / ("corvex-service-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder)) return folder.string();
    }
    throw std::runtime_error("tracking service: cannot make a temporary folder");
}

// A short body for answers that may carry one, so that clients must read and
// drop it.
bool mayCarryBody(int status) {
    return status >= 200 && status != 204 && status != 304;
}

}  // namespace

Script Script::fromJsonText(const std::string& text) {
    const json object = json::parse(text);
    Script script;
    for (const json& step : object.value("steps", json::array())) {
        script.steps.push_back(replyFromJson(step));
    }
    script.afterwards = replyFromJson(object.value("afterwards", json::object()));
    return script;
}

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (::strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    }
    return "";
}

std::string RecordedRequest::toJsonLine() const {
    json headerList = json::array();
    for (const auto& [key, value] : headers) headerList.push_back({key, value});
    json object = {{"method", method},         {"path", path},
                   {"headers", headerList},    {"body", body},
                   {"connection", connection}, {"receivedAtMs", receivedAtMs}};
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

TrackingService::TrackingService() = default;

TrackingService::~TrackingService() {
    stop();
}

std::string TrackingService::host() {
    return CORVEX_SERVICE_HOST;
}

void TrackingService::start(int proxyPort) {
    // A dropped connection makes the server write to a closed socket.
    std::signal(SIGPIPE, SIG_IGN);
    startedAt = std::chrono::steady_clock::now();
    folder = makeTemporaryFolder();
    caPath = (std::filesystem::path(folder) / "ca.pem").string();
    authority = std::make_unique<TestAuthority>();
    authority->writeCertificate(caPath);
    // Clients that name no host (the service's own port by address) get one
    // certificate for all the names it answers to.
    certificates = std::make_unique<Service::HostCertificates>(
        *authority, std::vector<std::string>{host(), "localhost", "127.0.0.1"});
    endpoint = std::make_unique<Service::ServiceEndpoint>(
        *certificates, [this](const Service::EndpointRequest& request) { return handle(request); });
    endpoint->bind("127.0.0.1", 0);
    httpsPort = endpoint->port();
    proxy = std::make_unique<Service::ConnectProxy>(httpsPort);
    endpoint->setTunnelHostLookup([this](int sourcePort) { return proxy->tunnelHost(sourcePort); });
    endpoint->start();
    proxy->start(proxyPort);
}

Service::EndpointResponse TrackingService::handle(const Service::EndpointRequest& request) {
    RecordedRequest record;
    record.method = request.method;
    record.path = request.path;
    record.headers = request.headers;
    record.body = request.body;
    record.connection = request.connection;
    record.receivedAtMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - startedAt)
            .count();
    Reply reply;
    std::function<void(const RecordedRequest&)> notify;
    {
        std::lock_guard<std::mutex> lock(mutex);
        reply = nextReply();
        recorded.push_back(record);
        notify = listener;
    }
    changed.notify_all();
    if (notify) notify(record);
    waitDelay(reply.delayMs);
    Service::EndpointResponse response;
    response.status = reply.status;
    response.dropConnection = reply.dropConnection;
    if (mayCarryBody(reply.status)) response.body = "recorded\n";
    return response;
}

void TrackingService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (proxy) proxy->stop();
    if (endpoint) endpoint->stop();
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        folder.clear();
    }
}

std::string TrackingService::proxyUrl() const {
    return proxy ? proxy->url() : std::string();
}

int TrackingService::proxyPort() const {
    return proxy ? proxy->port() : 0;
}

int TrackingService::tunnelCount() const {
    return proxy ? proxy->tunnelCount() : 0;
}

void TrackingService::setScript(std::vector<Reply> steps, Reply afterwards) {
    std::lock_guard<std::mutex> lock(mutex);
    script.steps = std::move(steps);
    script.afterwards = afterwards;
    nextStep = 0;
}

void TrackingService::setRequestListener(std::function<void(const RecordedRequest&)> newListener) {
    std::lock_guard<std::mutex> lock(mutex);
    listener = std::move(newListener);
}

std::vector<RecordedRequest> TrackingService::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

bool TrackingService::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return recorded.size() >= count; });
}

Reply TrackingService::nextReply() {
    return nextStep < script.steps.size() ? script.steps[nextStep++] : script.afterwards;
}

void TrackingService::waitDelay(int delayMs) {
    if (delayMs <= 0) return;
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return stopping; });
}

}  // namespace Corvex::Tracking::Testing
