// A certificate authority made in memory at test time, and the server
// certificates it issues, so that tests verify TLS exactly as a shipped build
// does, against an authority that exists only for the test run.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace Corvex::Tracking::Testing {

struct X509Deleter {
    void operator()(X509* certificate) const;
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const;
};
using Certificate = std::unique_ptr<X509, X509Deleter>;
using PrivateKey = std::unique_ptr<EVP_PKEY, KeyDeleter>;

struct ServerCredentials {
    Certificate certificate;
    PrivateKey key;
};

class TestAuthority {
public:
    // Makes a fresh P-256 key and a self-signed CA certificate valid for a
    // week. Throws std::runtime_error when OpenSSL fails.
    TestAuthority();

    // A new key and a certificate for server authentication, signed by this
    // authority. subjectAltNames is in OpenSSL's form, for example
    // "DNS:example.invalid,IP:127.0.0.1". Throws std::runtime_error.
    ServerCredentials issueServerCertificate(const std::string& subjectAltNames) const;

    // The authority's certificate as PEM text, and written to a file (the
    // form libcurl's certificate authority options read). Both throw
    // std::runtime_error.
    std::string certificatePem() const;
    void writeCertificate(const std::string& path) const;

private:
    PrivateKey key;
    Certificate certificate;
};

}  // namespace Corvex::Tracking::Testing
