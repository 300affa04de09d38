// A local tracking service for tests: the shared HTTPS endpoint with
// certificates from a test authority made at start (for the host a client
// came for, the real service host by default) and the shared CONNECT proxy
// in front of it. A sender configured with proxyUrl() and
// caFile() reaches it through its real https://<service host> URL, exactly as
// a shipped build reaches the real service. The service records every request
// and answers from a script.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Corvex::Tracking::Service {
class CertificateAuthority;
class ConnectProxy;
class HostCertificates;
class ServiceEndpoint;
struct EndpointRequest;
struct EndpointResponse;
}  // namespace Corvex::Tracking::Service

namespace Corvex::Tracking::Testing {

// How the service answers one request.
struct Reply {
    int status = 200;
    // Waits this long before answering (or dropping), as a slow service does.
    int delayMs = 0;
    // Closes the connection instead of answering: the client sees the
    // connection end without a response.
    bool dropConnection = false;
};

// The replies to the coming requests, in order, and the reply to every
// request after them.
struct Script {
    std::vector<Reply> steps;
    Reply afterwards;

    // {"steps":[{"status":503,"delayMs":100,"dropConnection":false},...],
    //  "afterwards":{"status":200}}; members left out keep Reply's defaults.
    // Throws nlohmann::json::exception for text of another shape.
    static Script fromJsonText(const std::string& text);
};

struct RecordedRequest {
    std::string method;
    std::string path;
    // The header lines as the server parsed them: ordered by name (case
    // insensitively), not in the order of the wire.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The TLS connection it came on: 1 for the service's first connection,
    // 2 for the next, and so on.
    int connection = 0;
    // Milliseconds from the service's start to the request's arrival.
    double receivedAtMs = 0;

    // The first value of a header (name compared case insensitively), or "".
    std::string header(const std::string& name) const;
    // One line of compact JSON: method, path, headers, body, connection and
    // receivedAtMs; bytes that are not UTF-8 become U+FFFD.
    std::string toJsonLine() const;
};

class TrackingService {
public:
    TrackingService();
    ~TrackingService();
    TrackingService(const TrackingService&) = delete;
    TrackingService& operator=(const TrackingService&) = delete;

    // Makes the test authority (its certificate written as ca.pem in a new
    // temporary folder), starts the HTTPS server on a free loopback port and
    // the proxy on proxyPort (0 picks a free one). Throws std::runtime_error.
    void start(int proxyPort = 0);
    // Ends waiting delays, stops the proxy and the server, and removes the
    // temporary folder. Called by the destructor.
    void stop();

    // The host name the service's certificate is valid for: the service host
    // the library is built with.
    static std::string host();
    std::string proxyUrl() const;
    int proxyPort() const;
    // The HTTPS server's own port on 127.0.0.1 (its certificate also names
    // 127.0.0.1), for clients that reach it without the proxy.
    int servicePort() const { return httpsPort; }
    // The PEM file of the test authority.
    std::string caFile() const { return caPath; }
    // Tunnels the proxy has opened.
    int tunnelCount() const;

    // Replaces the script; the next request gets steps[0].
    void setScript(std::vector<Reply> steps, Reply afterwards = {});
    // Called on the server's threads with each request as it arrives.
    void setRequestListener(std::function<void(const RecordedRequest&)> listener);

    std::vector<RecordedRequest> requests() const;
    // Waits until at least count requests have arrived; false on time-out.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

private:
    // Records the request and answers it from the script (server threads).
    Service::EndpointResponse handle(const Service::EndpointRequest& request);
    Reply nextReply();
    // Sleeps for the reply's delay, or until stop().
    void waitDelay(int delayMs);

    std::string folder;
    std::string caPath;
    int httpsPort = 0;
    std::chrono::steady_clock::time_point startedAt;
    std::unique_ptr<Service::CertificateAuthority> authority;
    std::unique_ptr<Service::HostCertificates> certificates;
    std::unique_ptr<Service::ServiceEndpoint> endpoint;
    std::unique_ptr<Service::ConnectProxy> proxy;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Script script;
    size_t nextStep = 0;
    std::vector<RecordedRequest> recorded;
    std::function<void(const RecordedRequest&)> listener;
    bool stopping = false;
};

}  // namespace Corvex::Tracking::Testing
