#include "collector/basic_credentials.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <strings.h>

#include <vector>

namespace Corvex::Tracking::Collector {

namespace {

// Standard Base64 with padding; empty for anything else (including the empty
// text, which no credentials encode to).
std::optional<std::string> decodeBase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    const size_t padding = text.compare(text.size() - 2, 2, "==") == 0 ? 2
                           : text.back() == '='                        ? 1
                                                                       : 0;
    if (text.find('=') < text.size() - padding) return std::nullopt;
    std::vector<unsigned char> bytes(text.size() / 4 * 3);
    const int length =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    return std::string(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<size_t>(length) - padding);
}

bool equalInConstantTime(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::optional<BasicCredentials> BasicCredentials::fromHeader(const std::string& value) {
    constexpr size_t SCHEME_LENGTH = 6;  // "Basic "
    if (value.size() <= SCHEME_LENGTH ||
        ::strncasecmp(value.c_str(), "Basic ", SCHEME_LENGTH) != 0) {
        return std::nullopt;
    }
    const size_t start = value.find_first_not_of(' ', SCHEME_LENGTH);
    const size_t end = value.find_last_not_of(' ');
    if (start == std::string::npos) return std::nullopt;
    const std::optional<std::string> decoded = decodeBase64(value.substr(start, end + 1 - start));
    if (!decoded) return std::nullopt;
    const size_t colon = decoded->find(':');
    if (colon == std::string::npos) return std::nullopt;
    return BasicCredentials{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

bool BasicCredentials::matches(const std::string& expectedUser,
                               const std::string& expectedPassword) const {
    // Both are compared, so the time taken does not tell which one differs.
    const bool userMatches = equalInConstantTime(user, expectedUser);
    const bool passwordMatches = equalInConstantTime(password, expectedPassword);
    return userMatches && passwordMatches;
}

}  // namespace Corvex::Tracking::Collector
