#include "collector/collector_service.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "base/utf8.h"
#include "collector/basic_credentials.h"
#include "collector/web_page.h"
#include "platform/platform.h"
#include "service/certificate_authority.h"
#include "service/connect_proxy.h"
#include "service/host_certificates.h"

namespace Corvex::Tracking::Collector {

namespace {

using nlohmann::json;
using Service::EndpointRequest;
using Service::EndpointResponse;

constexpr const char* DATABASE_NAME = "collector.sqlite";
constexpr const char* CA_NAME = "ca.pem";
constexpr const char* CA_KEY_NAME = "ca-key.pem";
constexpr int AUTHORITY_DAYS = 3650;
constexpr int64_t DEFAULT_PAGE_EVENTS = 500;
constexpr int64_t MAX_PAGE_EVENTS = 5000;

std::string inFolder(const std::string& folder, const char* name) {
    return (std::filesystem::path(folder) / name).string();
}

EndpointResponse textResponse(int status, const std::string& text) {
    EndpointResponse response;
    response.status = status;
    response.body = text + "\n";
    return response;
}

EndpointResponse jsonResponse(const json& document) {
    EndpointResponse response;
    response.body = document.dump(-1, ' ', false, json::error_handler_t::replace);
    response.contentType = "application/json";
    response.headers = {{"Cache-Control", "no-store"}};
    return response;
}

// A whole number from a query parameter: fallback when it is absent, empty
// when it is not a number.
std::optional<int64_t> queryNumber(const EndpointRequest& request, const char* name,
                                   int64_t fallback) {
    const std::string text = request.queryValue(name);
    if (text.empty()) return fallback;
    int64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop != end) return std::nullopt;
    return number;
}

}  // namespace

CollectorService::CollectorService(CollectorSettings settings) : settings(std::move(settings)) {}

CollectorService::~CollectorService() {
    stop();
}

void CollectorService::setRequestListener(RequestListener newListener) {
    std::lock_guard<std::mutex> lock(mutex);
    listener = std::move(newListener);
}

int CollectorService::port() const {
    return proxy ? proxy->port() : 0;
}

int CollectorService::httpsPort() const {
    return httpsEndpoint ? httpsEndpoint->port() : 0;
}

std::string CollectorService::url() const {
    return proxy ? proxy->url() : std::string();
}

std::string CollectorService::caFile() const {
    return inFolder(settings.dataFolder, CA_NAME);
}

std::string CollectorService::databaseFile() const {
    return inFolder(settings.dataFolder, DATABASE_NAME);
}

void CollectorService::openAuthority() {
    const std::string certificatePath = caFile();
    const std::string keyPath = inFolder(settings.dataFolder, CA_KEY_NAME);
    const bool hasCertificate = Platform::fileExists(certificatePath);
    const bool hasKey = Platform::fileExists(keyPath);
    if (hasCertificate && hasKey) {
        std::string certificatePem;
        std::string keyPem;
        if (!Platform::readWholeFile(certificatePath, certificatePem) ||
            !Platform::readWholeFile(keyPath, keyPem)) {
            throw std::runtime_error("cannot read the certificate authority in " +
                                     settings.dataFolder);
        }
        authority = std::make_unique<Service::CertificateAuthority>(
            Service::CertificateAuthority::fromPem(certificatePem, keyPem));
        return;
    }
    if (hasCertificate || hasKey) {
        // Hosts may trust the old certificate: never replace half of it.
        throw std::runtime_error("only one of " + certificatePath + " and " + keyPath +
                                 " exists; remove it to make a new authority");
    }
    authority = std::make_unique<Service::CertificateAuthority>(
        "Corvex Collector Development Authority", AUTHORITY_DAYS);
    // Both files are private to the user (mode 0600); the key first, so that
    // a certificate on disk always has its key.
    if (!Platform::replaceFileContents(keyPath, authority->privateKeyPem()) ||
        !Platform::replaceFileContents(certificatePath, authority->certificatePem())) {
        throw std::runtime_error("cannot write the certificate authority in " +
                                 settings.dataFolder);
    }
    newAuthority = true;
}

void CollectorService::start() {
    std::error_code error;
    std::filesystem::create_directories(settings.dataFolder, error);
    if (!Platform::isDirectory(settings.dataFolder)) {
        throw std::runtime_error("cannot make the data folder " + settings.dataFolder);
    }
    events = std::make_unique<EventStore>(databaseFile(), EventStore::Mode::Create);
    openAuthority();
    certificates = std::make_unique<Service::HostCertificates>(
        *authority, std::vector<std::string>{"localhost", "127.0.0.1", "::1"});

    httpsEndpoint = std::make_unique<Service::ServiceEndpoint>(
        *certificates, [this](const EndpointRequest& request) { return handle(request, true); });
    plainEndpoint = std::make_unique<Service::ServiceEndpoint>(
        [this](const EndpointRequest& request) { return handle(request, false); });
    httpsEndpoint->bind("127.0.0.1", settings.httpsPort);
    plainEndpoint->bind("127.0.0.1", 0);
    proxy = std::make_unique<Service::ConnectProxy>(httpsEndpoint->port(), plainEndpoint->port());
    httpsEndpoint->setTunnelHostLookup(
        [this](int sourcePort) { return proxy->tunnelHost(sourcePort); });
    httpsEndpoint->start();
    plainEndpoint->start();
    proxy->start(settings.port);
}

void CollectorService::stop() {
    if (proxy) proxy->stop();
    if (httpsEndpoint) httpsEndpoint->stop();
    if (plainEndpoint) plainEndpoint->stop();
}

EndpointResponse CollectorService::handle(const EndpointRequest& request, bool secure) {
    try {
        if (request.path == EVENT_PATH) return receiveEvents(request, secure);
        if (request.path == "/api/reset") return reset(request);
        if (request.method != "GET" && request.method != "HEAD") {
            return textResponse(405, "method not allowed");
        }
        if (request.path == "/") {
            EndpointResponse page;
            page.body = webPage();
            page.contentType = "text/html; charset=utf-8";
            page.headers = {{"Cache-Control", "no-store"},
                            {"Content-Security-Policy",
                             "default-src 'none'; script-src 'unsafe-inline'; "
                             "style-src 'unsafe-inline'; connect-src 'self'"}};
            return page;
        }
        if (request.path == "/api/events") return listEvents(request);
        if (request.path == "/api/summary") return summary();
        return textResponse(404, "not found");
    } catch (const std::exception& error) {
        // The library retries a 5xx: nothing it sent is lost.
        return textResponse(500, std::string("collector failure: ") + error.what());
    }
}

bool CollectorService::injectFailure() {
    if (settings.failRate <= 0) return false;
    std::lock_guard<std::mutex> lock(mutex);
    return std::bernoulli_distribution(settings.failRate)(random);
}

EndpointResponse CollectorService::receiveEvents(const EndpointRequest& request, bool secure) {
    const std::optional<BasicCredentials> credentials =
        BasicCredentials::fromHeader(request.header("Authorization"));
    RequestRecord record;
    record.receivedAtMs = Platform::nowMs();
    record.user = credentials ? repairUtf8(credentials->user) : "";
    record.method = repairUtf8(request.method);
    record.path = repairUtf8(request.path);
    record.transport = secure ? "https" : "http";
    record.host = request.tlsHost;

    EndpointResponse response;
    ReceivedBatch batch;
    if (!secure && !settings.plainHttp) {
        record.status = 403;
        record.reason = "plain HTTP is off: use HTTPS, or start the collector with --plain-http";
    } else if (settings.checkCredentials &&
               !(credentials && credentials->matches(settings.user, settings.password))) {
        record.status = 401;
        record.reason = credentials ? "wrong credentials" : "no Basic credentials";
        response.headers = {{"WWW-Authenticate", "Basic realm=\"corvex-collector\""}};
    } else if (request.method != "PUT") {
        record.status = 405;
        record.reason = "use PUT";
    } else if (injectFailure()) {
        record.status = settings.failStatus;
        record.reason = "injected failure";
    } else {
        record.reason = ReceivedBatch::parse(request.body, batch);
        if (!record.reason.empty()) record.status = 400;
    }
    const bool accepted = record.status == 200;
    if (!accepted) record.body = request.body;
    const RecordResult result = events->record(record, accepted ? &batch : nullptr);

    RequestListener notify;
    {
        std::lock_guard<std::mutex> lock(mutex);
        notify = listener;
    }
    if (notify) notify(record, result, accepted ? &batch : nullptr);

    response.status = record.status;
    response.body = accepted ? "stored " + std::to_string(result.newEvents) + " events, " +
                                   std::to_string(result.duplicates) + " duplicates\n"
                             : record.reason + "\n";
    return response;
}

std::vector<Violation> CollectorService::violations(const ReceivedEvent& event) const {
    if (!settings.plan) return {};
    return settings.plan->check(event.eventName, event.value);
}

void CollectorService::eachEvent(EventFilter filter,
                                 const std::function<bool(const StoredEvent&)>& visit) const {
    // In pages, so that a large database is never read into memory at once.
    filter.limit = MAX_PAGE_EVENTS;
    for (;;) {
        const std::vector<StoredEvent> page = events->events(filter);
        for (const StoredEvent& stored : page) {
            if (!visit(stored)) return;
        }
        if (page.size() < static_cast<size_t>(MAX_PAGE_EVENTS)) return;
        filter.afterId = page.back().id;
    }
}

EndpointResponse CollectorService::listEvents(const EndpointRequest& request) const {
    const std::optional<int64_t> after = queryNumber(request, "after", 0);
    const std::optional<int64_t> limit = queryNumber(request, "limit", DEFAULT_PAGE_EVENTS);
    if (!after || !limit) return textResponse(400, "after and limit must be whole numbers");
    const std::string status = request.queryValue("status");
    if (!status.empty() && status != "good" && status != "bad") {
        return textResponse(400, "status must be good or bad");
    }
    EventFilter filter;
    filter.afterId = *after;
    filter.name = request.queryValue("name");
    const size_t wanted = static_cast<size_t>(std::clamp<int64_t>(*limit, 1, MAX_PAGE_EVENTS));
    json list = json::array();
    eachEvent(filter, [&](const StoredEvent& stored) {
        const std::vector<Violation> reasons = violations(stored.event);
        if (status == "good" && !reasons.empty()) return true;
        if (status == "bad" && reasons.empty()) return true;
        json entry = stored.toJson();
        entry["violations"] = json::array();
        for (const Violation& reason : reasons) entry["violations"].push_back(reason.toJson());
        list.push_back(std::move(entry));
        return list.size() < wanted;
    });
    return jsonResponse({{"events", list},
                         {"stats", events->stats().toJson()},
                         {"plan", settings.plan != nullptr}});
}

EndpointResponse CollectorService::summary() const {
    int64_t good = 0;
    int64_t bad = 0;
    json names = json::object();
    eachEvent({}, [&](const StoredEvent& stored) {
        const bool isBad = !violations(stored.event).empty();
        (isBad ? bad : good) += 1;
        json& counts = names[stored.event.eventName];
        if (counts.is_null()) counts = {{"good", 0}, {"bad", 0}};
        counts[isBad ? "bad" : "good"] = counts[isBad ? "bad" : "good"].get<int64_t>() + 1;
        return true;
    });
    return jsonResponse({{"events", good + bad}, {"good", good}, {"bad", bad}, {"names", names}});
}

EndpointResponse CollectorService::reset(const EndpointRequest& request) {
    if (request.method != "POST") return textResponse(405, "use POST");
    // A page on another site can post a form, but not with this type unless
    // the browser asks first (a preflight this service never grants).
    std::string type = request.header("Content-Type");
    type = type.substr(0, type.find(';'));
    type.erase(type.find_last_not_of(" \t") + 1);
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (type != "application/json") {
        return textResponse(415, "reset needs Content-Type: application/json");
    }
    return jsonResponse({{"removed", events->clear()}});
}

}  // namespace Corvex::Tracking::Collector
