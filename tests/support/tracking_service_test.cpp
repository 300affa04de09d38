#include "support/tracking_service.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "support/connect_proxy.h"

using namespace Corvex::Tracking::Testing;
using nlohmann::json;

TEST(ServiceScript, ReadsStepsAndKeepsDefaultsForMissingMembers) {
    const Script script = Script::fromJsonText(
        R"({"steps":[{"status":503,"delayMs":40},{"dropConnection":true}],"afterwards":{"status":429}})");
    ASSERT_EQ(script.steps.size(), 2u);
    EXPECT_EQ(script.steps[0].status, 503);
    EXPECT_EQ(script.steps[0].delayMs, 40);
    EXPECT_FALSE(script.steps[0].dropConnection);
    EXPECT_EQ(script.steps[1].status, 200);
    EXPECT_TRUE(script.steps[1].dropConnection);
    EXPECT_EQ(script.afterwards.status, 429);

    const Script empty = Script::fromJsonText("{}");
    EXPECT_TRUE(empty.steps.empty());
    EXPECT_EQ(empty.afterwards.status, 200);
    EXPECT_THROW(Script::fromJsonText("[1]"), json::exception);
}

TEST(RecordedRequestLine, IsOneJsonLineWithBrokenBytesReplaced) {
    RecordedRequest request;
    request.method = "PUT";
    request.path = "/p";
    request.headers = {{"Content-Type", "application/json"}};
    request.body = "a\xFFz";
    request.connection = 2;
    const std::string line = request.toJsonLine();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const json parsed = json::parse(line);
    EXPECT_EQ(parsed["method"], "PUT");
    EXPECT_EQ(parsed["headers"], json::parse(R"([["Content-Type","application/json"]])"));
    EXPECT_EQ(parsed["body"], "a\xEF\xBF\xBDz");
    EXPECT_EQ(parsed["connection"], 2);
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.header("Accept"), "");
}

TEST(TrackingServiceDirect, VerifiesWithItsAuthorityAndAnswersFromTheScript) {
    TrackingService service;
    service.start();
    service.setScript({Reply{503}}, Reply{201});

    httplib::SSLClient client("127.0.0.1", service.servicePort());
    client.set_ca_cert_path(service.caFile().c_str());
    client.enable_server_certificate_verification(true);
    client.set_keep_alive(true);
    const auto first = client.Put("/a", "one", "text/plain");
    const auto second = client.Put("/b", "two", "text/plain");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 503);
    EXPECT_EQ(second->status, 201);

    const std::vector<RecordedRequest> requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/a");
    EXPECT_EQ(requests[1].body, "two");
    EXPECT_EQ(requests[0].connection, requests[1].connection);  // kept alive
    EXPECT_LE(requests[0].receivedAtMs, requests[1].receivedAtMs);
    EXPECT_EQ(service.tunnelCount(), 0);
}

TEST(ConnectProxyTunnels, RefusesOtherMethodsWithoutCountingATunnel) {
    TrackingService service;
    service.start();
    httplib::Client client("127.0.0.1", service.proxyPort());
    const auto result = client.Get("/");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 405);
    EXPECT_EQ(service.tunnelCount(), 0);
}
