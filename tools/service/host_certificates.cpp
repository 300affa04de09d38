#include "service/host_certificates.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace Corvex::Tracking::Service {

namespace {

constexpr size_t MAX_HOST_NAME_LENGTH = 253;

bool isAddress(const std::string& text) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// Letters, digits and hyphens in labels of 1 to 63 characters, separated by
// single dots; nothing that OpenSSL's configuration syntax would read as a
// separator.
bool isHostName(const std::string& text) {
    if (text.empty() || text.size() > MAX_HOST_NAME_LENGTH) return false;
    size_t labelLength = 0;
    for (const char c : text) {
        if (c == '.') {
            if (labelLength == 0) return false;
            labelLength = 0;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
            if (++labelLength > 63) return false;
        } else {
            return false;
        }
    }
    return labelLength > 0;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

HostCertificates::HostCertificates(const CertificateAuthority& authority,
                                   std::vector<std::string> defaultNames)
    : authority(authority), defaultNames(std::move(defaultNames)) {}

std::string HostCertificates::subjectAltName(const std::string& host) {
    if (isAddress(host)) return "IP:" + host;
    if (isHostName(host)) return "DNS:" + lowerCase(host);
    return "";
}

std::shared_ptr<const ServerCredentials> HostCertificates::forHost(const std::string& host) {
    std::string names;
    if (host.empty()) {
        for (const std::string& name : defaultNames) {
            const std::string entry = subjectAltName(name);
            if (entry.empty()) throw std::runtime_error("not a host name or address: " + name);
            names += (names.empty() ? "" : ",") + entry;
        }
    } else {
        names = subjectAltName(host);
        if (names.empty()) return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex);
    std::shared_ptr<const ServerCredentials>& credentials = issued[names];
    if (credentials == nullptr) {
        credentials = std::make_shared<ServerCredentials>(authority.issueServerCertificate(names));
    }
    return credentials;
}

}  // namespace Corvex::Tracking::Service
