// The HTTP side of a local tracking service: an HTTPS server (or a plain
// HTTP one) on a loopback port that hands every request, whatever its method
// or path, to one handler. Over TLS it shows each client a certificate for
// the host it came for: the host its proxy tunnel named, else the name the
// client sent in its TLS hello, else the default names.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <openssl/types.h>

namespace httplib {
class Server;
}

namespace Corvex::Tracking::Service {

class HostCertificates;

struct EndpointRequest {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> query;
    // The header lines as the server parsed them: ordered by name (case
    // insensitively), not in the order of the wire.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The TLS connection it came on: 1 for the endpoint's first connection,
    // 2 for the next, and so on; 0 over plain HTTP.
    int connection = 0;
    // The host its certificate was issued for ("" over plain HTTP or for the
    // default certificate).
    std::string tlsHost;

    // The first value of a header (name compared case insensitively), or "".
    std::string header(const std::string& name) const;
    // The first value of a query parameter, or "".
    std::string queryValue(const std::string& name) const;
};

struct EndpointResponse {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    // Closes the connection instead of answering (TLS connections only):
    // the client sees the connection end without a response.
    bool dropConnection = false;
};

class ServiceEndpoint {
public:
    using Handler = std::function<EndpointResponse(const EndpointRequest&)>;
    // The host a proxy tunnel named, by the local port of the proxy's
    // connection to this endpoint; "" when unknown.
    using TunnelHostLookup = std::function<std::string(int sourcePort)>;

    // HTTPS with certificates from the given issuer, which must outlive the
    // endpoint.
    ServiceEndpoint(HostCertificates& certificates, Handler handler);
    // Plain HTTP.
    explicit ServiceEndpoint(Handler handler);
    ~ServiceEndpoint();
    ServiceEndpoint(const ServiceEndpoint&) = delete;
    ServiceEndpoint& operator=(const ServiceEndpoint&) = delete;

    // Listens on the address and port (0 picks a free one); connections wait
    // until start(). Throws std::runtime_error.
    void bind(const std::string& address, int port);
    // Set before start(): the lookup is called on the server's threads.
    void setTunnelHostLookup(TunnelHostLookup lookup);
    // Serves on a thread of its own.
    void start();
    // Stops serving; returns once the server's threads have ended. Called by
    // the destructor.
    void stop();

    int port() const { return listenPort; }

private:
    static int selectCertificate(SSL* connection, void* endpoint);
    void route();

    HostCertificates* const certificates;
    const Handler handler;
    TunnelHostLookup tunnelHostLookup;
    std::unique_ptr<httplib::Server> server;
    std::thread serverThread;
    std::atomic<bool> listenEnded{false};
    int listenPort = 0;
    std::mutex mutex;
    int connectionCount = 0;
};

}  // namespace Corvex::Tracking::Service
