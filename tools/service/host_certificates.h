// Server certificates per host name, issued by one authority when a host is
// first asked for and kept for the object's life, so that a service can
// answer TLS for whatever host a client came for.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/certificate_authority.h"

namespace Corvex::Tracking::Service {

class HostCertificates {
public:
    // defaultNames (host names or addresses) make up the certificate for
    // connections that name no host. The authority must outlive this object.
    HostCertificates(const CertificateAuthority& authority, std::vector<std::string> defaultNames);

    // The credentials for a host name or IP address, or the default ones for
    // "". Null when the name is neither a host name nor an address. Throws
    // std::runtime_error when OpenSSL fails.
    std::shared_ptr<const ServerCredentials> forHost(const std::string& host);

    // The subject alternative name entry for a host in OpenSSL's form
    // ("DNS:name" or "IP:address"), or "" when the text is neither a host
    // name (letters, digits, hyphens and dots, at most 253 characters) nor an
    // IPv4 or IPv6 address. Names are compared without regard to case.
    static std::string subjectAltName(const std::string& host);

private:
    const CertificateAuthority& authority;
    const std::vector<std::string> defaultNames;
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const ServerCredentials>> issued;
};

}  // namespace Corvex::Tracking::Service
