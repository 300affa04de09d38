// corvex-collector's service: one loopback port that is at once an
// intercepting proxy for the library (CONNECT, then TLS with a certificate
// for the named host from the collector's own development authority) and a
// plain HTTP server for the web page; behind it, the event endpoint, which
// checks credentials and bodies and stores what arrives.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "collector/event_store.h"
#include "collector/tracking_plan.h"
#include "service/service_endpoint.h"

namespace Corvex::Tracking::Service {
class CertificateAuthority;
class ConnectProxy;
class HostCertificates;
}  // namespace Corvex::Tracking::Service

namespace Corvex::Tracking::Collector {

struct CollectorSettings {
    // Holds the database and the certificate authority; made when missing.
    std::string dataFolder;
    // The proxy and the page on 127.0.0.1 (0: a free port).
    int port = 0;
    // The HTTPS endpoint on 127.0.0.1, for clients that come without the
    // proxy (0: a free port).
    int httpsPort = 0;
    // Checked only when checkCredentials is set.
    bool checkCredentials = false;
    std::string user;
    std::string password;
    // The share of event requests answered with failStatus instead.
    double failRate = 0;
    int failStatus = 503;
    // The event endpoint also answers plain HTTP on the proxy's port.
    bool plainHttp = false;
    // When set, every event is classified good or bad against it, as it is
    // read: the database keeps only what arrived, so a data folder works
    // with any plan or none.
    std::shared_ptr<const TrackingPlan> plan;
};

class CollectorService {
public:
    static constexpr const char* EVENT_PATH = "/tracking/v3/event";

    explicit CollectorService(CollectorSettings settings);
    ~CollectorService();
    CollectorService(const CollectorService&) = delete;
    CollectorService& operator=(const CollectorService&) = delete;

    // Opens the database and the authority (made on first start), then
    // starts listening. Throws std::runtime_error.
    void start();
    // Stops listening; returns once every thread has ended. Called by the
    // destructor.
    void stop();

    // Called on the service's threads after each event request is stored,
    // with the batch of an accepted one (else null).
    using RequestListener =
        std::function<void(const RequestRecord&, const RecordResult&, const ReceivedBatch*)>;
    void setRequestListener(RequestListener listener);

    int port() const;
    int httpsPort() const;
    // "http://127.0.0.1:<port>": the proxy for the library, and the page.
    std::string url() const;
    // The authority's certificate, for the library's certificate option.
    std::string caFile() const;
    std::string databaseFile() const;
    // True when start() made a new authority rather than reading one back.
    bool madeNewAuthority() const { return newAuthority; }
    EventStore& store() { return *events; }
    // The reasons the event breaks the plan; empty without a plan.
    std::vector<Violation> violations(const ReceivedEvent& event) const;

private:
    Service::EndpointResponse handle(const Service::EndpointRequest& request, bool secure);
    Service::EndpointResponse receiveEvents(const Service::EndpointRequest& request, bool secure);
    Service::EndpointResponse listEvents(const Service::EndpointRequest& request) const;
    Service::EndpointResponse summary() const;
    // Visits the events the filter selects (its limit aside) until visit
    // answers false.
    void eachEvent(EventFilter filter, const std::function<bool(const StoredEvent&)>& visit) const;
    Service::EndpointResponse reset(const Service::EndpointRequest& request);
    void openAuthority();
    bool injectFailure();

    const CollectorSettings settings;
    bool newAuthority = false;
    std::unique_ptr<EventStore> events;
    std::unique_ptr<Service::CertificateAuthority> authority;
    std::unique_ptr<Service::HostCertificates> certificates;
    std::unique_ptr<Service::ServiceEndpoint> httpsEndpoint;
    std::unique_ptr<Service::ServiceEndpoint> plainEndpoint;
    std::unique_ptr<Service::ConnectProxy> proxy;

    std::mutex mutex;
    std::mt19937 random{std::random_device{}()};
    RequestListener listener;
};

}  // namespace Corvex::Tracking::Collector
