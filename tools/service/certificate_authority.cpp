#include "service/certificate_authority.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace Corvex::Tracking::Service {

void X509Deleter::operator()(X509* certificate) const {
    X509_free(certificate);
}
void KeyDeleter::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

namespace {

constexpr long HOUR_SECONDS = 3600;
constexpr long DAY_SECONDS = 24 * HOUR_SECONDS;
// The longest server certificate that every TLS client accepts.
constexpr long MAX_SERVER_DAYS = 397;

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("certificate authority: ") + what + " failed");
}

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioDeleter>;

Bio memoryBio() {
    Bio bio(BIO_new(BIO_s_mem()));
    require(bio != nullptr, "BIO_new");
    return bio;
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
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

// Signs until both halves of the ECDSA signature take their full 32 bytes:
// Wine's certificate checks, under which the Windows tests run, refuse a
// shorter half (about one signature in a hundred) that other verifiers accept.
void signWithFullHalves(X509* x, EVP_PKEY* key, const char* what) {
    for (;;) {
        require(X509_sign(x, key, EVP_sha256()) > 0, what);
        const ASN1_BIT_STRING* signature = nullptr;
        X509_get0_signature(&signature, nullptr, x);
        const unsigned char* bytes = signature->data;
        ECDSA_SIG* halves = d2i_ECDSA_SIG(nullptr, &bytes, signature->length);
        require(halves != nullptr, "reading the signature");
        const bool full = BN_num_bytes(ECDSA_SIG_get0_r(halves)) == 32 &&
                          BN_num_bytes(ECDSA_SIG_get0_s(halves)) == 32;
        ECDSA_SIG_free(halves);
        if (full) return;
    }
}

// A certificate for the key with the given common name, valid from an hour
// ago for the given seconds, with a random serial number; not yet signed.
Certificate makeCertificate(EVP_PKEY* key, const char* commonName, long validSeconds) {
    Certificate certificate(X509_new());
    require(certificate != nullptr, "X509_new");
    X509* x = certificate.get();
    require(X509_set_version(x, 2) == 1, "setting the version");
    unsigned char serial[16];
    require(RAND_bytes(serial, sizeof serial) == 1, "RAND_bytes");
    serial[0] &= 0x7F;  // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    require(number != nullptr, "BN_bin2bn");
    const bool serialSet = BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x)) != nullptr;
    BN_free(number);
    require(serialSet, "setting the serial number");
    require(X509_gmtime_adj(X509_getm_notBefore(x), -HOUR_SECONDS) != nullptr, "setting notBefore");
    require(X509_gmtime_adj(X509_getm_notAfter(x), validSeconds) != nullptr, "setting notAfter");
    require(X509_set_pubkey(x, key) == 1, "setting the public key");
    X509_NAME* name = X509_get_subject_name(x);
    require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                       0) == 1,
            "setting the common name");
    return certificate;
}

}  // namespace

CertificateAuthority::CertificateAuthority(const std::string& commonName, int validDays)
    : key(makeKey()) {
    certificate = makeCertificate(key.get(), commonName.c_str(), validDays * DAY_SECONDS);
    X509* x = certificate.get();
    require(X509_set_issuer_name(x, X509_get_subject_name(x)) == 1, "setting the issuer");
    addExtension(x, x, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    addExtension(x, x, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(x, x, NID_subject_key_identifier, "hash");
    signWithFullHalves(x, key.get(), "signing the authority");
}

CertificateAuthority::CertificateAuthority(PrivateKey key, Certificate certificate)
    : key(std::move(key)), certificate(std::move(certificate)) {}

CertificateAuthority CertificateAuthority::fromPem(const std::string& certificatePem,
                                                   const std::string& keyPem) {
    Bio certificateBio(
        BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())));
    Bio keyBio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    require(certificateBio != nullptr && keyBio != nullptr, "BIO_new_mem_buf");
    Certificate certificate(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    if (certificate == nullptr) {
        throw std::runtime_error("certificate authority: the certificate does not parse");
    }
    PrivateKey key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (key == nullptr) throw std::runtime_error("certificate authority: the key does not parse");
    if (X509_check_ca(certificate.get()) < 1) {
        throw std::runtime_error("certificate authority: the certificate is not a CA certificate");
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        throw std::runtime_error("certificate authority: the key does not match the certificate");
    }
    return CertificateAuthority(std::move(key), std::move(certificate));
}

ServerCredentials CertificateAuthority::issueServerCertificate(
    const std::string& subjectAltNames) const {
    ServerCredentials issued{nullptr, makeKey()};
    issued.certificate =
        makeCertificate(issued.key.get(), "Corvex Local Service", MAX_SERVER_DAYS * DAY_SECONDS);
    X509* x = issued.certificate.get();
    // Never valid beyond the authority itself.
    const ASN1_TIME* authorityEnd = X509_get0_notAfter(certificate.get());
    if (ASN1_TIME_compare(authorityEnd, X509_get0_notAfter(x)) < 0) {
        require(X509_set1_notAfter(x, authorityEnd) == 1, "setting notAfter");
    }
    require(X509_set_issuer_name(x, X509_get_subject_name(certificate.get())) == 1,
            "setting the issuer");
    addExtension(x, certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(x, certificate.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(x, certificate.get(), NID_ext_key_usage, "serverAuth");
    addExtension(x, certificate.get(), NID_subject_alt_name, subjectAltNames.c_str());
    addExtension(x, certificate.get(), NID_authority_key_identifier, "keyid:always");
    signWithFullHalves(x, key.get(), "signing the server certificate");
    return issued;
}

std::string CertificateAuthority::certificatePem() const {
    Bio bio = memoryBio();
    require(PEM_write_bio_X509(bio.get(), certificate.get()) == 1, "writing PEM");
    return bioText(bio.get());
}

std::string CertificateAuthority::privateKeyPem() const {
    Bio bio = memoryBio();
    require(
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing the key");
    return bioText(bio.get());
}

void CertificateAuthority::writeCertificate(const std::string& path) const {
    const std::string pem = certificatePem();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << pem;
    file.close();
    require(!file.fail(), ("writing " + path).c_str());
}

}  // namespace Corvex::Tracking::Service
