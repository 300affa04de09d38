#include "support/test_authority.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace Corvex::Tracking::Testing {

void X509Deleter::operator()(X509* certificate) const {
    X509_free(certificate);
}
void KeyDeleter::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

namespace {

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test authority: ") + what + " failed");
}

PrivateKey makeKey() {
    PrivateKey key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* subject, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    require(extension != nullptr, "certificate extension");
    const bool added = X509_add_ext(subject, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    require(added, "adding a certificate extension");
}

// A certificate for the key with the given common name, valid from an hour
// ago (clock skew) for a week, with a random serial number; not yet signed.
Certificate makeCertificate(EVP_PKEY* key, const char* commonName) {
    Certificate certificate(X509_new());
    require(certificate != nullptr, "X509_new");
    X509* x = certificate.get();
    require(X509_set_version(x, 2) == 1, "setting the version");
    unsigned char serial[8];
    require(RAND_bytes(serial, sizeof serial) == 1, "RAND_bytes");
    serial[0] &= 0x7F;  // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    require(number != nullptr, "BN_bin2bn");
    const bool serialSet = BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x)) != nullptr;
    BN_free(number);
    require(serialSet, "setting the serial number");
    require(X509_gmtime_adj(X509_getm_notBefore(x), -3600) != nullptr, "setting notBefore");
    require(X509_gmtime_adj(X509_getm_notAfter(x), 7 * 24 * 3600) != nullptr, "setting notAfter");
    require(X509_set_pubkey(x, key) == 1, "setting the public key");
    X509_NAME* name = X509_get_subject_name(x);
    require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                       0) == 1,
            "setting the common name");
    return certificate;
}

}  // namespace

TestAuthority::TestAuthority() : key(makeKey()) {
    certificate = makeCertificate(key.get(), "Corvex Test Authority");
    X509* x = certificate.get();
    require(X509_set_issuer_name(x, X509_get_subject_name(x)) == 1, "setting the issuer");
    addExtension(x, x, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(x, x, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(x, x, NID_subject_key_identifier, "hash");
    require(X509_sign(x, key.get(), EVP_sha256()) > 0, "signing the authority");
}

ServerCredentials TestAuthority::issueServerCertificate(const std::string& subjectAltNames) const {
    ServerCredentials issued{nullptr, makeKey()};
    issued.certificate = makeCertificate(issued.key.get(), "Corvex Test Service");
    X509* x = issued.certificate.get();
    require(X509_set_issuer_name(x, X509_get_subject_name(certificate.get())) == 1,
            "setting the issuer");
    addExtension(x, certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(x, certificate.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(x, certificate.get(), NID_ext_key_usage, "serverAuth");
    addExtension(x, certificate.get(), NID_subject_alt_name, subjectAltNames.c_str());
    addExtension(x, certificate.get(), NID_authority_key_identifier, "keyid:always");
    require(X509_sign(x, key.get(), EVP_sha256()) > 0, "signing the server certificate");
    return issued;
}

std::string TestAuthority::certificatePem() const {
    BIO* memory = BIO_new(BIO_s_mem());
    require(memory != nullptr, "BIO_new");
    std::string pem;
    if (PEM_write_bio_X509(memory, certificate.get()) == 1) {
        char* data = nullptr;
        const long length = BIO_get_mem_data(memory, &data);
        if (length > 0) pem.assign(data, static_cast<size_t>(length));
    }
    BIO_free(memory);
    require(!pem.empty(), "writing PEM");
    return pem;
}

void TestAuthority::writeCertificate(const std::string& path) const {
    const std::string pem = certificatePem();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << pem;
    file.close();
    require(!file.fail(), ("writing " + path).c_str());
}

}  // namespace Corvex::Tracking::Testing
