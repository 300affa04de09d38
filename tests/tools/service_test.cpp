// The shared service library: certificates per host from one authority, and
// the proxy and endpoint that put them to use.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "service/certificate_authority.h"
#include "service/connect_proxy.h"
#include "service/host_certificates.h"
#include "service/service_endpoint.h"
#include "support/temp_folder.h"

using namespace Corvex::Tracking::Service;
using Corvex::Tracking::Testing::TempFolder;

namespace {

Certificate parseCertificate(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    return Certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

// Whether a TLS client that trusts the authority accepts the certificate for
// the host.
bool verifies(const std::string& authorityPem, X509* certificate, const std::string& host) {
    const Certificate authority = parseCertificate(authorityPem);
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(),
                                                                  X509_STORE_free);
    X509_STORE_add_cert(store.get(), authority.get());
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(),
                                                                            X509_STORE_CTX_free);
    X509_STORE_CTX_init(context.get(), store.get(), certificate, nullptr);
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_purpose(parameters, X509_PURPOSE_SSL_SERVER);
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) != 1) {
        X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), host.size());
    }
    return X509_verify_cert(context.get()) == 1;
}

// Whether r and s of the certificate's ECDSA signature both take 32 bytes.
bool hasFullSignatureHalves(X509* certificate) {
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, certificate);
    const unsigned char* bytes = signature->data;
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> halves(
        d2i_ECDSA_SIG(nullptr, &bytes, signature->length), ECDSA_SIG_free);
    return halves != nullptr && BN_num_bytes(ECDSA_SIG_get0_r(halves.get())) == 32 &&
           BN_num_bytes(ECDSA_SIG_get0_s(halves.get())) == 32;
}

// Sends a request head straight to a port and returns the status line.
std::string rawStatusLine(int port, const std::string& head) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(socket, head.data(), head.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(head.size())) {
        char buffer[512];
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count > 0) answer.assign(buffer, static_cast<size_t>(count));
    }
    ::close(socket);
    return answer.substr(0, answer.find("\r\n"));
}

}  // namespace

TEST(CertificateAuthority, IssuesCertificatesOnlyForTheirOwnNames) {
    const CertificateAuthority authority("Unit Test Authority", 2);
    const ServerCredentials issued =
        authority.issueServerCertificate("DNS:shop.example.test,IP:127.0.0.1");
    const std::string authorityPem = authority.certificatePem();
    EXPECT_TRUE(verifies(authorityPem, issued.certificate.get(), "shop.example.test"));
    EXPECT_TRUE(verifies(authorityPem, issued.certificate.get(), "127.0.0.1"));
    EXPECT_FALSE(verifies(authorityPem, issued.certificate.get(), "other.example.test"));
    // Another authority's clients do not accept it.
    const CertificateAuthority stranger("Stranger", 2);
    EXPECT_FALSE(verifies(stranger.certificatePem(), issued.certificate.get(), "127.0.0.1"));
    // Never valid beyond the authority.
    EXPECT_LE(ASN1_TIME_compare(X509_get0_notAfter(issued.certificate.get()),
                                X509_get0_notAfter(parseCertificate(authorityPem).get())),
              0);
}

// Wine refuses a signature with a short half; about one signature in 128 has
// one, so 600 show a signer that does not sign again (99 times in 100).
TEST(CertificateAuthority, EverySignatureHasFullLengthHalves) {
    const CertificateAuthority authority("Halves", 2);
    EXPECT_TRUE(hasFullSignatureHalves(parseCertificate(authority.certificatePem()).get()));
    int shortOnes = 0;
    for (int i = 0; i < 600; ++i) {
        const ServerCredentials issued = authority.issueServerCertificate("DNS:localhost");
        if (!hasFullSignatureHalves(issued.certificate.get())) ++shortOnes;
    }
    EXPECT_EQ(shortOnes, 0);
}

TEST(CertificateAuthority, ReadBackFromPemIssuesForTheSameTrust) {
    const CertificateAuthority original("Kept Authority", 30);
    const CertificateAuthority restored =
        CertificateAuthority::fromPem(original.certificatePem(), original.privateKeyPem());
    EXPECT_EQ(restored.certificatePem(), original.certificatePem());
    const ServerCredentials issued = restored.issueServerCertificate("DNS:localhost");
    EXPECT_TRUE(verifies(original.certificatePem(), issued.certificate.get(), "localhost"));

    const CertificateAuthority other("Other", 30);
    EXPECT_THROW(CertificateAuthority::fromPem(original.certificatePem(), other.privateKeyPem()),
                 std::runtime_error);
    EXPECT_THROW(CertificateAuthority::fromPem("not pem", original.privateKeyPem()),
                 std::runtime_error);
    EXPECT_THROW(CertificateAuthority::fromPem(original.certificatePem(), ""), std::runtime_error);
}

TEST(HostCertificates, AcceptsOnlyHostNamesAndAddresses) {
    EXPECT_EQ(HostCertificates::subjectAltName("Tracking.Example.test"),
              "DNS:tracking.example.test");
    EXPECT_EQ(HostCertificates::subjectAltName("localhost"), "DNS:localhost");
    EXPECT_EQ(HostCertificates::subjectAltName("127.0.0.1"), "IP:127.0.0.1");
    EXPECT_EQ(HostCertificates::subjectAltName("::1"), "IP:::1");
    const std::string label63(63, 'a');
    EXPECT_EQ(HostCertificates::subjectAltName(label63 + ".test"), "DNS:" + label63 + ".test");
    // Text that would smuggle another name into OpenSSL's list, or is no
    // host name at all.
    for (const std::string& bad : std::vector<std::string>{
             "", "a,DNS:evil.test", "a b", "a..b", ".a", "a.", "a/b", "*.example.test",
             "caf\xC3\xA9.test", label63 + "a.test", std::string(254, 'a')}) {
        EXPECT_EQ(HostCertificates::subjectAltName(bad), "") << bad;
    }
}

TEST(HostCertificates, IssuesEachHostOnceAndTheDefaultsForNoName) {
    const CertificateAuthority authority("Unit Test Authority", 2);
    HostCertificates certificates(authority, {"localhost", "127.0.0.1"});
    const auto first = certificates.forHost("shop.example.test");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(certificates.forHost("SHOP.example.test"), first);
    const auto fallback = certificates.forHost("");
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(verifies(authority.certificatePem(), fallback->certificate.get(), "localhost"));
    EXPECT_TRUE(verifies(authority.certificatePem(), fallback->certificate.get(), "127.0.0.1"));
    EXPECT_EQ(certificates.forHost("bad,name"), nullptr);
}

class ProxyAndEndpoint : public ::testing::Test {
protected:
    CertificateAuthority authority{"Unit Test Authority", 2};
    HostCertificates certificates{authority, {"localhost", "127.0.0.1"}};
    std::mutex mutex;
    std::vector<EndpointRequest> received;
    std::vector<std::string> tunnelHosts;  // what the endpoint learnt from the proxy
    ServiceEndpoint::Handler handler = [this](const EndpointRequest& request) {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(request);
        EndpointResponse response;
        response.body = "ok " + request.method;
        return response;
    };
    ServiceEndpoint https{certificates, handler};
    ServiceEndpoint plain{handler};
    std::unique_ptr<ConnectProxy> proxy;
    TempFolder folder{"service_test"};
    std::string caFile;

    void SetUp() override {
        https.bind("127.0.0.1", 0);
        plain.bind("127.0.0.1", 0);
        proxy = std::make_unique<ConnectProxy>(https.port(), plain.port());
        https.setTunnelHostLookup([this](int port) {
            std::string host = proxy->tunnelHost(port);
            std::lock_guard<std::mutex> lock(mutex);
            tunnelHosts.push_back(host);
            return host;
        });
        https.start();
        plain.start();
        proxy->start();
        Corvex::Tracking::Platform::makeDirectory(folder.path());
        caFile = folder.file("ca.pem");
        authority.writeCertificate(caFile);
    }
    std::vector<EndpointRequest> requests() {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }
    void TearDown() override { proxy->stop(); }
};

TEST_F(ProxyAndEndpoint, ATunnelGetsACertificateForTheHostItNamed) {
    for (const std::string host : {"shop.example.test", "other.example.test"}) {
        httplib::SSLClient client(host, 443);
        client.set_proxy("127.0.0.1", proxy->port());
        client.set_ca_cert_path(caFile.c_str());
        client.enable_server_certificate_verification(true);
        const auto result = client.Put("/tracking/v3/event", "{}", "application/json");
        ASSERT_TRUE(result) << host << ": " << httplib::to_string(result.error());
        EXPECT_EQ(result->status, 200);
        EXPECT_EQ(result->body, "ok PUT");
    }
    const std::vector<EndpointRequest> seen = requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].tlsHost, "shop.example.test");
    EXPECT_EQ(seen[1].tlsHost, "other.example.test");
    EXPECT_NE(seen[0].connection, seen[1].connection);
    EXPECT_EQ(seen[0].body, "{}");
    {
        // Taken from the tunnel, not from the name the client sent in TLS.
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(tunnelHosts,
                  (std::vector<std::string>{"shop.example.test", "other.example.test"}));
    }
    EXPECT_EQ(proxy->tunnelTargets(),
              (std::vector<std::string>{"shop.example.test:443", "other.example.test:443"}));
}

TEST_F(ProxyAndEndpoint, OtherRequestsGoToThePlainPort) {
    httplib::Client client("127.0.0.1", proxy->port());
    const auto result = client.Get("/page?after=5");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->body, "ok GET");
    const std::vector<EndpointRequest> seen = requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].connection, 0);
    EXPECT_EQ(seen[0].queryValue("after"), "5");
    EXPECT_EQ(proxy->tunnelCount(), 0);
}

TEST_F(ProxyAndEndpoint, RefusesConnectTargetsThatNameNoHostOrPort) {
    for (const std::string target : {"a,DNS:evil.test:443", "host.test", "host.test:0",
                                     "host.test:99999", "host.test:4x3", "::1:443", "[a.b]:443"}) {
        EXPECT_EQ(rawStatusLine(proxy->port(), "CONNECT " + target + " HTTP/1.1\r\n\r\n"),
                  "HTTP/1.1 400 Bad Request")
            << target;
    }
    EXPECT_EQ(rawStatusLine(proxy->port(), "CONNECT [::1]:443 HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 200 Connection established");
    EXPECT_EQ(proxy->tunnelCount(), 1);
}
