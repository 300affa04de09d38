#include "service/service_endpoint.h"

#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>

#include "service/host_certificates.h"

namespace Corvex::Tracking::Service {

namespace {

// Larger bodies are refused with 413: a batch of the library stays far below.
constexpr size_t MAX_BODY_BYTES = 16 * 1024 * 1024;

// What the endpoint keeps with each TLS connection, in the connection's own
// data slot: OpenSSL frees it with the connection, and a new connection
// always starts without one.
struct ConnectionInfo {
    int number = 0;
    std::string host;
};

void freeConnectionInfo(void*, void* info, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<ConnectionInfo*>(info);
}

int connectionInfoSlot() {
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, freeConnectionInfo);
    return slot;
}

// httplib files the connection's addresses among the request's headers.
bool isAddedByServer(const std::string& headerName) {
    return headerName == "LOCAL_ADDR" || headerName == "LOCAL_PORT" ||
           headerName == "REMOTE_ADDR" || headerName == "REMOTE_PORT";
}

// The connection's own information, made when first needed.
ConnectionInfo& connectionInfoOf(SSL* connection) {
    auto* info = static_cast<ConnectionInfo*>(SSL_get_ex_data(connection, connectionInfoSlot()));
    if (info == nullptr) {
        info = new ConnectionInfo;
        if (SSL_set_ex_data(connection, connectionInfoSlot(), info) != 1) {
            delete info;
            throw std::runtime_error("service endpoint: SSL_set_ex_data failed");
        }
    }
    return *info;
}

int peerPort(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return 0;
}

}  // namespace

std::string EndpointRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (::strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    }
    return "";
}

std::string EndpointRequest::queryValue(const std::string& name) const {
    const auto found = query.find(name);
    return found == query.end() ? std::string() : found->second;
}

ServiceEndpoint::ServiceEndpoint(HostCertificates& certificates, Handler handler)
    : certificates(&certificates), handler(std::move(handler)) {}

ServiceEndpoint::ServiceEndpoint(Handler handler)
    : certificates(nullptr), handler(std::move(handler)) {}

ServiceEndpoint::~ServiceEndpoint() {
    stop();
}

void ServiceEndpoint::setTunnelHostLookup(TunnelHostLookup lookup) {
    tunnelHostLookup = std::move(lookup);
}

int ServiceEndpoint::selectCertificate(SSL* connection, void* endpoint) {
    auto* self = static_cast<ServiceEndpoint*>(endpoint);
    // No exception may cross OpenSSL: a failure here fails the handshake.
    try {
        std::string host;
        if (self->tunnelHostLookup) host = self->tunnelHostLookup(peerPort(SSL_get_fd(connection)));
        if (host.empty()) {
            const char* serverName = SSL_get_servername(connection, TLSEXT_NAMETYPE_host_name);
            if (serverName != nullptr) host = serverName;
        }
        std::shared_ptr<const ServerCredentials> credentials = self->certificates->forHost(host);
        if (credentials == nullptr) {
            // A name no certificate can carry: the default one.
            host.clear();
            credentials = self->certificates->forHost(host);
        }
        if (SSL_use_certificate(connection, credentials->certificate.get()) != 1 ||
            SSL_use_PrivateKey(connection, credentials->key.get()) != 1) {
            return 0;
        }
        connectionInfoOf(connection).host = host;
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}

void ServiceEndpoint::bind(const std::string& address, int port) {
    if (certificates != nullptr) {
        server = std::make_unique<httplib::SSLServer>([this](SSL_CTX& context) {
            SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
            // Every connection makes a full handshake, so that each one gets
            // the certificate for its own host.
            SSL_CTX_set_session_cache_mode(&context, SSL_SESS_CACHE_OFF);
            SSL_CTX_set_num_tickets(&context, 0);
            SSL_CTX_set_options(&context, SSL_OP_NO_TICKET);
            SSL_CTX_set_cert_cb(&context, &ServiceEndpoint::selectCertificate, this);
            return true;
        });
    } else {
        server = std::make_unique<httplib::Server>();
    }
    if (!server->is_valid()) throw std::runtime_error("service endpoint: TLS setup failed");
    server->set_keep_alive_max_count(1000);
    server->set_tcp_nodelay(true);
    server->set_payload_max_length(MAX_BODY_BYTES);
    route();
    listenPort = port == 0 ? server->bind_to_any_port(address)
                           : (server->bind_to_port(address, port) ? port : -1);
    if (listenPort <= 0) {
        throw std::runtime_error("service endpoint: cannot listen on " + address + " port " +
                                 std::to_string(port));
    }
}

void ServiceEndpoint::start() {
    serverThread = std::thread([this] {
        server->listen_after_bind();
        listenEnded = true;
    });
    // httplib's stop() does nothing before the server runs: waiting here
    // means a stop() that follows at once is not lost.
    while (!server->is_running() && !listenEnded) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ServiceEndpoint::route() {
    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        EndpointRequest passed;
        passed.method = request.method;
        passed.path = request.path;
        passed.query.insert(request.params.begin(), request.params.end());
        for (const auto& header : request.headers) {
            if (!isAddedByServer(header.first)) passed.headers.push_back(header);
        }
        passed.body = request.body;
        if (request.ssl != nullptr) {
            // httplib hands the connection out as const; the information
            // lives in the connection's own data slot, which OpenSSL keeps
            // apart, and only this connection's thread touches it.
            ConnectionInfo& info = connectionInfoOf(const_cast<SSL*>(request.ssl));
            std::lock_guard<std::mutex> lock(mutex);
            if (info.number == 0) info.number = ++connectionCount;
            passed.connection = info.number;
            passed.tlsHost = info.host;
        }
        const EndpointResponse answer = handler(passed);
        if (answer.dropConnection && request.ssl != nullptr) {
            ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
            return;
        }
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers) response.set_header(name, value);
        if (!answer.body.empty()) response.set_content(answer.body, answer.contentType.c_str());
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
}

void ServiceEndpoint::stop() {
    if (server) server->stop();
    if (serverThread.joinable()) serverThread.join();
}

}  // namespace Corvex::Tracking::Service
