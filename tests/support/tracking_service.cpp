#include "support/tracking_service.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <sys/socket.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>

#include "support/connect_proxy.h"
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

// The slot of each TLS connection's number, kept with the connection itself:
// a new connection always starts without one.
int connectionNumberSlot() {
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return slot;
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

// httplib files the connection's addresses among the request's headers.
bool isAddedByServer(const std::string& headerName) {
    return headerName == "LOCAL_ADDR" || headerName == "LOCAL_PORT" ||
           headerName == "REMOTE_ADDR" || headerName == "REMOTE_PORT";
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
    const TestAuthority authority;
    authority.writeCertificate(caPath);
    const ServerCredentials credentials =
        authority.issueServerCertificate("DNS:" + host() + ",DNS:localhost,IP:127.0.0.1");
    // The server takes its own references to the certificate and the key.
    server =
        std::make_unique<httplib::SSLServer>(credentials.certificate.get(), credentials.key.get());
    if (!server->is_valid()) throw std::runtime_error("tracking service: TLS setup failed");
    server->set_keep_alive_max_count(1000);
    server->set_tcp_nodelay(true);

    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        RecordedRequest record;
        record.method = request.method;
        record.path = request.path;
        for (const auto& header : request.headers) {
            if (!isAddedByServer(header.first)) record.headers.push_back(header);
        }
        record.body = request.body;
        record.receivedAtMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - startedAt)
                .count();
        // httplib hands the connection out as const; the number is stored in
        // the connection's own data slot, which OpenSSL keeps apart.
        SSL* connection = const_cast<SSL*>(request.ssl);
        Reply reply;
        std::function<void(const RecordedRequest&)> notify;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (connection != nullptr) {
                void* number = SSL_get_ex_data(connection, connectionNumberSlot());
                if (number == nullptr) {
                    number = reinterpret_cast<void*>(static_cast<intptr_t>(++connectionCount));
                    SSL_set_ex_data(connection, connectionNumberSlot(), number);
                }
                record.connection = static_cast<int>(reinterpret_cast<intptr_t>(number));
            }
            reply = nextReply();
            recorded.push_back(record);
            notify = listener;
        }
        changed.notify_all();
        if (notify) notify(record);
        waitDelay(reply.delayMs);
        if (reply.dropConnection && connection != nullptr) {
            ::shutdown(SSL_get_fd(connection), SHUT_RDWR);
            return;
        }
        response.status = reply.status;
        if (mayCarryBody(reply.status)) response.set_content("recorded\n", "text/plain");
    };
    // Routed methods get their body read first; the rest (CONNECT, TRACE)
    // are caught before routing, which would refuse them.
    const std::string anyPath = ".*";
    server->Get(anyPath, handle);
    server->Post(anyPath, handle);
    server->Put(anyPath, handle);
    server->Patch(anyPath, handle);
    server->Delete(anyPath, handle);
    server->Options(anyPath, handle);
    server->set_pre_routing_handler(
        [handle](const httplib::Request& request, httplib::Response& response) {
            static const char* const ROUTED[] = {"GET",   "HEAD",   "POST",   "PUT",
                                                 "PATCH", "DELETE", "OPTIONS"};
            for (const char* method : ROUTED) {
                if (request.method == method) return httplib::Server::HandlerResponse::Unhandled;
            }
            handle(request, response);
            return httplib::Server::HandlerResponse::Handled;
        });

    httpsPort = server->bind_to_any_port("127.0.0.1");
    if (httpsPort <= 0) throw std::runtime_error("tracking service: cannot listen");
    serverThread = std::thread([this] { server->listen_after_bind(); });
    proxy = std::make_unique<ConnectProxy>(httpsPort);
    proxy->start(proxyPort);
}

void TrackingService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (proxy) proxy->stop();
    if (server) server->stop();
    if (serverThread.joinable()) serverThread.join();
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
