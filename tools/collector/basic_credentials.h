// The user name and password of an HTTP Basic Authorization header.
#pragma once

#include <optional>
#include <string>

namespace Corvex::Tracking::Collector {

class BasicCredentials {
public:
    std::string user;
    std::string password;

    // Reads "Basic <base64 of user:password>" (the scheme in any case).
    // Empty when the header is missing, of another scheme, not Base64, or
    // without a colon.
    static std::optional<BasicCredentials> fromHeader(const std::string& value);

    // Both texts equal, compared in constant time.
    bool matches(const std::string& expectedUser, const std::string& expectedPassword) const;
};

}  // namespace Corvex::Tracking::Collector
