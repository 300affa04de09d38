// corvex-collector's service over the network: the event endpoint's checks,
// the library's own requests through the proxy, the page's data, and the
// authority kept in the data folder.
#include "collector/collector_service.h"

#include <gtest/gtest.h>

#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "collector/embedded_schemas.h"
#include "collector/tracking_plan.h"

#include "corvex/tracking.h"
#include "delivery/http_sender.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Collector;
using Corvex::Tracking::Testing::TempFolder;
using nlohmann::json;

namespace {

constexpr const char* USER = "game-key";
constexpr const char* PASSWORD = "p\xC3\xA4ss:word";

json body(const std::vector<std::string>& eIds) {
    json events = json::array();
    for (const std::string& eId : eIds) {
        events.push_back({{"appVersion", "1.0"},
                          {"cfgId", "default"},
                          {"eId", eId},
                          {"eventName", "level"},
                          {"id", "s"},
                          {"timeInMs", 1},
                          {"value", nullptr}});
    }
    return {{"vxUid", "u"},     {"vxSdkVersion", "0.0.1-cpp"},
            {"bundleId", "b"},  {"country", "FR"},
            {"device", "d"},    {"platform", "p"},
            {"osVersion", "1"}, {"subMessages", events}};
}

struct Answer {
    int status = 0;
    std::string body;
    std::string authenticate;
};

// The library's service host, from the URL it sends to.
std::string serviceHost() {
    const std::string& url = eventEndpointUrl();
    const size_t start = url.find("://") + 3;
    return url.substr(start, url.find('/', start) - start);
}

class CollectorServiceTest : public ::testing::Test {
protected:
    TempFolder folder{"collector_service"};
    std::unique_ptr<CollectorService> service;

    // A started manager saving in the folder and sending through the service,
    // with short intervals; `configure` adds settings.
    TrackingManager* startTracker(
        const std::function<void(::InitializationData*)>& configure = {}) {
        ::InitializationData* config = InitializationData_Create();
        InitializationData_SetSavePath(config, folder.file("save").c_str());
        InitializationData_SetQueueCheckInterval(config, 10);
        InitializationData_SetSendDelay(config, 50);
        if (configure) configure(config);
        TrackingManager* tracker = TrackingManager_Create(USER, PASSWORD, config);
        InitializationData_Destroy(config);
        TrackingManager_SetSendProxy(tracker, service->url().c_str());
        TrackingManager_SetSendCertificateAuthority(tracker, service->caFile().c_str());
        TrackingManager_Start(tracker);
        return tracker;
    }

    void start(CollectorSettings settings = {}) {
        settings.dataFolder = folder.file("data");
        settings.checkCredentials = true;
        settings.user = USER;
        settings.password = PASSWORD;
        service = std::make_unique<CollectorService>(settings);
        service->start();
    }

    Answer put(const std::string& text, const std::string& user = USER,
               const std::string& password = PASSWORD, const std::string& method = "PUT") {
        httplib::SSLClient client("127.0.0.1", service->httpsPort());
        client.set_ca_cert_path(service->caFile().c_str());
        client.enable_server_certificate_verification(true);
        if (!user.empty()) client.set_basic_auth(user.c_str(), password.c_str());
        const auto result = method == "PUT"
                                ? client.Put(CollectorService::EVENT_PATH, text, "application/json")
                                : client.Get(CollectorService::EVENT_PATH);
        if (!result) return {};
        return {result->status, result->body, result->get_header_value("WWW-Authenticate")};
    }

    std::vector<StoredEvent> waitForEvents(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::vector<StoredEvent> events = service->store().events({});
        while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            events = service->store().events({});
        }
        return events;
    }
};

}  // namespace

TEST_F(CollectorServiceTest, AcceptsGoodBatchesAndRefusesTheRestWithAReason) {
    start();
    const Answer good = put(body({"e1", "e2"}).dump());
    EXPECT_EQ(good.status, 200);
    EXPECT_EQ(good.body, "stored 2 events, 0 duplicates\n");

    json wrongType = body({"e3"});
    wrongType["subMessages"][0]["timeInMs"] = "soon";
    const Answer invalid = put(wrongType.dump());
    EXPECT_EQ(invalid.status, 400);
    EXPECT_EQ(invalid.body, "subMessages[0].timeInMs is not a 64-bit integer\n");

    const Answer wrongPassword = put(body({"e4"}).dump(), USER, "guess");
    EXPECT_EQ(wrongPassword.status, 401);
    EXPECT_EQ(wrongPassword.body, "wrong credentials\n");
    EXPECT_EQ(wrongPassword.authenticate, "Basic realm=\"corvex-collector\"");
    EXPECT_EQ(put(body({"e5"}).dump(), "other-key", PASSWORD).status, 401);
    EXPECT_EQ(put(body({"e6"}).dump(), "").body, "no Basic credentials\n");
    EXPECT_EQ(put("", USER, PASSWORD, "GET").status, 405);

    const Answer resent = put(body({"e2", "e7"}).dump());
    EXPECT_EQ(resent.status, 200);
    EXPECT_EQ(resent.body, "stored 1 events, 1 duplicates\n");

    const EventStats stats = service->store().stats();
    EXPECT_EQ(stats.events, 3);
    EXPECT_EQ(stats.duplicates, 1);
    EXPECT_EQ(stats.requests, 7);
    EXPECT_EQ(stats.accepted, 2);
    EXPECT_EQ(stats.failures, 5);
}

TEST_F(CollectorServiceTest, InjectedFailuresAnswerTheirStatusAndStoreNothing) {
    CollectorSettings settings;
    settings.failRate = 1;
    settings.failStatus = 429;
    start(settings);
    const Answer answer = put(body({"e1"}).dump());
    EXPECT_EQ(answer.status, 429);
    EXPECT_EQ(answer.body, "injected failure\n");
    EXPECT_EQ(put(body({"e1"}).dump(), USER, "guess").status, 401);  // credentials come first
    const EventStats stats = service->store().stats();
    EXPECT_EQ(stats.events, 0);
    EXPECT_EQ(stats.failures, 2);
}

TEST_F(CollectorServiceTest, TheLibraryDeliversThroughTheInterceptingProxy) {
    start();
    TrackingManager* tracker = startTracker([](::InitializationData* config) {
        InitializationData_SetBundleId(config, "com.example.game");
        InitializationData_SetCountry(config, "D\xC3\xA9");
    });  // a first-open event
    TrackingManager_TrackLevelStart(tracker, 1, "meadow");
    TrackingManager_TrackWithJsonValue(tracker, "boss_defeated", "{\"boss\":\"hydra\"}");
    const std::vector<StoredEvent> events = waitForEvents(3);
    TrackingManager_Stop(tracker);
    TrackingManager_Destroy(tracker);

    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event.eventName, "vxsdk_first_open");
    EXPECT_EQ(events[1].event.eventName, "vxsdk_level_attempt");
    EXPECT_EQ(events[2].event.value, (json{{"boss", "hydra"}}));
    for (const StoredEvent& stored : events) EXPECT_EQ(stored.user, USER);

    // The requests came over TLS for the library's own service host, and
    // the body's properties are stored with them.
    sqlite3* database = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(service->databaseFile().c_str(), &database, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(database,
                                 "SELECT transport, host, bundle_id, country, sdk_version, "
                                 "status FROM requests ORDER BY id LIMIT 1",
                                 -1, &query, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    const auto column = [&](int index) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(query, index)));
    };
    EXPECT_EQ(column(0), "https");
    EXPECT_EQ(column(1), serviceHost());
    EXPECT_EQ(column(2), "com.example.game");
    EXPECT_EQ(column(3), "D\xC3\xA9");
    EXPECT_EQ(column(4), "0.0.1-cpp");
    EXPECT_EQ(sqlite3_column_int(query, 5), 200);
    sqlite3_finalize(query);
    sqlite3_close(database);
}

// Every typed export's real value keeps its built-in shape, and every
// built-in shape has an export that sends it; the custom ones arrive wrapped
// as the plan's authors are told.
TEST_F(CollectorServiceTest, EveryTypedEventKeepsItsBuiltInShape) {
    start();
    TrackingManager* first = startTracker();  // vxsdk_first_open
    ASSERT_EQ(waitForEvents(1).size(), 1u);
    TrackingManager_Stop(first);
    TrackingManager_Destroy(first);

    TrackingManager* t = startTracker();  // vxsdk_open
    TrackingManager_TrackBootStart(t);
    TrackingManager_TrackBootEnd(t);
    TrackingManager_TrackLevelStart(t, 1, nullptr);
    TrackingManager_TrackLevelEnd(t, 1, "meadow", 1);
    TrackingManager_TrackLevelEnd(t, 2, "cave", 0);
    TrackingManager_TrackAdLoad(t, "unit", 0);
    TrackingManager_TrackAdClose2(t, "unit", 1, 2);
    TrackingManager_TrackAdClick(t, nullptr, 99);
    TrackingManager_TrackAdImpression2(t, "unit", 2, -1);
    TrackingManager_TrackIAPInitialization(t, 1);
    TrackingManager_TrackIAPRestorePurchase(t);
    TrackingManager_TrackIAPBuyStart(t, "gems", 0.99f, 10, "EUR");
    TrackingManager_TrackIAPBuyEnd(t, "gems", 0.99f, 10, nullptr, 1);
    TrackingManager_TrackIAPBuyEnd(t, "gems", 0.99f, 10, "EUR", 0);
    TrackingManager_TrackFacebookLogin(t, "fb");
    TrackingManager_TrackFacebookLogout(t, nullptr);
    TrackingManager_TrackUpdateGame(t, "2.0");
    TrackingManager_TrackRateGame(t);
    TrackingManager_TrackSoundMode(t, "mute");
    TrackingManager_TrackAuthorizationTrackingStatus(t, 3);
    TrackingManager_TrackAccountLogin(t, "id", "google");
    TrackingManager_TrackAccountLogout(t, "id", nullptr);
    TrackingManager_TrackAccountLink(t, "id", "apple");
    TrackingManager_TrackAccountUnlink(t, "id", "apple");
    TrackingManager_TrackWalletLink(t, "0xabc");
    TrackingManager_TrackWalletUnlink2(t, "0xabc", "solana");
    TrackingManager_TrackCryptoPayment(t, "pack", 1.5f, 1);
    TrackingManager_TrackCryptoPayment3(t, "pack", 1.5f, 1, "SOL", "solana");
    TrackingManager_TrackWithIntValue(t, "coins", 5);
    TrackingManager_TrackWithStringValue(t, "mode", "hard");
    TrackingManager_TrackWithJsonValue(t, "broken", "{not json");
    const std::vector<StoredEvent> events = waitForEvents(33);
    TrackingManager_Stop(t);
    TrackingManager_Destroy(t);
    ASSERT_EQ(events.size(), 33u);

    const TrackingPlan plan = TrackingPlan::fromJson(json::parse(R"({"events": {
        "coins": {"schema": {"type": "object", "required": ["value"], "additionalProperties": false,
                             "properties": {"value": {"type": "integer"}}}},
        "mode": {"schema": {"type": "object", "required": ["value"], "additionalProperties": false,
                            "properties": {"value": {"type": "string"}}}},
        "broken": {"schema": {"type": "null"}}}})"),
                                                     "plan.json");
    std::set<std::string> sent;
    for (const StoredEvent& stored : events) {
        sent.insert(stored.event.eventName);
        for (const Violation& violation : plan.check(stored.event.eventName, stored.event.value)) {
            ADD_FAILURE() << stored.event.eventName << " " << violation.toJson().dump();
        }
    }
    std::set<std::string> shapes{"coins", "mode", "broken"};
    const json builtin = json::parse(EmbeddedSchemas::builtinEvents());
    for (const auto& entry : builtin.items()) shapes.insert(entry.key());
    EXPECT_EQ(sent, shapes);
}

TEST_F(CollectorServiceTest, ThePortServesThePageAndItsDataOverPlainHttp) {
    start();
    ASSERT_EQ(put(body({"e1", "e2", "e3"}).dump()).status, 200);
    httplib::Client client("127.0.0.1", service->port());

    const auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->body.find("<title>Corvex Collector</title>"), std::string::npos);

    const auto list = client.Get("/api/events?after=1&limit=1");
    ASSERT_TRUE(list);
    const json data = json::parse(list->body);
    ASSERT_EQ(data["events"].size(), 1u);
    EXPECT_EQ(data["events"][0]["id"], 2);
    EXPECT_EQ(data["events"][0]["user"], USER);
    EXPECT_EQ(data["events"][0]["event"]["eId"], "e2");
    EXPECT_EQ(data["events"][0]["violations"], json::array());  // no plan: all good
    EXPECT_EQ(data["stats"]["events"], 3);
    EXPECT_EQ(client.Get("/api/events?after=x")->status, 400);
    EXPECT_EQ(client.Get("/nothing")->status, 404);

    // Events over plain HTTP only when asked for.
    client.set_basic_auth(USER, PASSWORD);
    const auto plain =
        client.Put(CollectorService::EVENT_PATH, body({"e9"}).dump(), "application/json");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 403);
    service.reset();
    CollectorSettings settings;
    settings.plainHttp = true;
    start(settings);
    httplib::Client allowed("127.0.0.1", service->port());
    allowed.set_basic_auth(USER, PASSWORD);
    const auto accepted =
        allowed.Put(CollectorService::EVENT_PATH, body({"e9"}).dump(), "application/json");
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status, 200);
}

TEST_F(CollectorServiceTest, KeepsItsAuthorityInTheDataFolder) {
    start();
    EXPECT_TRUE(service->madeNewAuthority());
    std::string firstPem;
    ASSERT_TRUE(Platform::readWholeFile(service->caFile(), firstPem));
    service.reset();

    // A host configured with the file keeps working after a restart.
    start();
    EXPECT_FALSE(service->madeNewAuthority());
    std::string secondPem;
    ASSERT_TRUE(Platform::readWholeFile(service->caFile(), secondPem));
    EXPECT_EQ(secondPem, firstPem);
    EXPECT_EQ(put(body({"e1"}).dump()).status, 200);
    service.reset();

    // Half an authority is never silently replaced.
    ASSERT_TRUE(Platform::removeFile(folder.file("data/ca-key.pem")));
    CollectorSettings settings;
    settings.dataFolder = folder.file("data");
    CollectorService broken(settings);
    EXPECT_THROW(broken.start(), std::runtime_error);
}

// A plan for the events body() sends: a "level" value is an object whose
// "level" is an integer; no other name is in it.
TEST_F(CollectorServiceTest, WithAPlanTheApiClassifiesCountsFiltersAndResets) {
    CollectorSettings settings;
    settings.plan = std::make_shared<const TrackingPlan>(TrackingPlan::fromJson(
        json::parse(R"({"events": {"level": {"schema": {"type": "object", "required": ["level"],
            "properties": {"level": {"type": "integer"}}}}}})"),
        "test plan"));
    settings.plainHttp = true;
    start(settings);
    json sent = body({"good", "wrong-type", "unplanned"});
    sent["subMessages"][0]["value"] = {{"level", 3}};
    sent["subMessages"][1]["value"] = {{"level", "three"}};
    sent["subMessages"][2]["eventName"] = "shop";
    ASSERT_EQ(put(sent.dump()).status, 200);
    httplib::Client client("127.0.0.1", service->port());
    const auto get = [&client](const std::string& path) {
        const auto result = client.Get(path);
        return result && result->status == 200 ? json::parse(result->body) : json();
    };
    const auto eIdsOf = [](const json& answer) {
        std::vector<std::string> ids;
        for (const json& stored : answer["events"]) ids.push_back(stored["event"]["eId"]);
        return ids;
    };

    const json all = get("/api/events");
    ASSERT_EQ(all["events"].size(), 3u);
    EXPECT_EQ(all["events"][0]["violations"], json::array());
    const json& wrongType = all["events"][1]["violations"];
    ASSERT_EQ(wrongType.size(), 1u);
    EXPECT_EQ(wrongType[0]["path"], "/level");
    EXPECT_EQ(wrongType[0]["value"], "\"three\"");
    EXPECT_NE(wrongType[0]["rule"].get<std::string>().find("type"), std::string::npos);
    EXPECT_EQ(wrongType[0].size(), 3u);
    EXPECT_FALSE(all["events"][2]["violations"].empty());
    EXPECT_EQ(all["stats"]["events"], 3);  // the page's totals stay

    EXPECT_EQ(eIdsOf(get("/api/events?status=bad")),
              (std::vector<std::string>{"wrong-type", "unplanned"}));
    EXPECT_EQ(eIdsOf(get("/api/events?status=good")), std::vector<std::string>{"good"});
    EXPECT_EQ(eIdsOf(get("/api/events?status=bad&name=level")),
              std::vector<std::string>{"wrong-type"});
    EXPECT_EQ(eIdsOf(get("/api/events?status=bad&limit=1&after=2")),
              std::vector<std::string>{"unplanned"});
    EXPECT_EQ(client.Get("/api/events?status=ugly")->status, 400);

    EXPECT_EQ(get("/api/summary"), json::parse(R"({"events": 3, "good": 1, "bad": 2,
        "names": {"level": {"good": 1, "bad": 1}, "shop": {"good": 0, "bad": 1}}})"));

    // Only a request a web page cannot send without asking first empties the store.
    EXPECT_EQ(client.Post("/api/reset", "a=b", "application/x-www-form-urlencoded")->status, 415);
    EXPECT_EQ(client.Post("/api/reset", "{}", "text/plain")->status, 415);
    EXPECT_EQ(client.Get("/api/reset")->status, 405);
    EXPECT_EQ(service->store().stats().events, 3);
    const auto reset = client.Post("/api/reset", "{}", "application/json; charset=utf-8");
    ASSERT_TRUE(reset);
    EXPECT_EQ(reset->status, 200);
    EXPECT_EQ(json::parse(reset->body), (json{{"removed", 3}}));
    EXPECT_EQ(get("/api/summary"),
              (json{{"events", 0}, {"good", 0}, {"bad", 0}, {"names", json::object()}}));
    EXPECT_EQ(service->store().stats().requests, 0);
}
