// A certificate authority for local services: a key and a self-signed CA
// certificate, made fresh or read back from PEM texts, and the server
// certificates it issues. Clients that trust its certificate verify the
// service exactly as they verify a real one.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace Corvex::Tracking::Service {

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

class CertificateAuthority {
public:
    // A fresh P-256 key and a self-signed CA certificate with that common
    // name, valid from an hour ago (clock skew) for validDays. Throws
    // std::runtime_error when OpenSSL fails.
    CertificateAuthority(const std::string& commonName, int validDays);

    // The authority whose certificate and key these PEM texts hold. Throws
    // std::runtime_error when either does not parse, the certificate is not a
    // CA certificate, or the key does not belong to it.
    static CertificateAuthority fromPem(const std::string& certificatePem,
                                        const std::string& keyPem);

    // A new key and a certificate for server authentication, signed by this
    // authority, valid until the authority's own end but for at most 397
    // days. subjectAltNames is in OpenSSL's form, for example
    // "DNS:example.invalid,IP:127.0.0.1". Throws std::runtime_error.
    ServerCredentials issueServerCertificate(const std::string& subjectAltNames) const;

    // The certificate as PEM text, and written to a file (the form libcurl's
    // certificate authority options read). Both throw std::runtime_error.
    std::string certificatePem() const;
    void writeCertificate(const std::string& path) const;
    // The private key as unencrypted PKCS#8 PEM text.
    std::string privateKeyPem() const;

private:
    CertificateAuthority(PrivateKey key, Certificate certificate);

    PrivateKey key;
    Certificate certificate;
};

}  // namespace Corvex::Tracking::Service
