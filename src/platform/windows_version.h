// The naming rules of Windows versions, kept as plain functions so that they
// are built and tested on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvex::Tracking::Platform {

// Product type of a workstation in the extended version record; every other
// product type counts as a server.
constexpr int WINDOWS_WORKSTATION = 1;

// "Windows 10", "Windows Server 2019"... from the version the system reports.
std::string windowsProductName(uint32_t major, uint32_t minor, uint32_t build, int productType);

// "major.minor (Build B)" or "major.minor (Build B: service pack)", where B is
// the low 16 bits of the build number.
std::string formatOsVersion(uint32_t major, uint32_t minor, uint32_t build,
                            const std::u16string& servicePack);

// UTF-16 to UTF-8; a malformed surrogate sequence becomes one "?".
std::string utf16ToUtf8(const char16_t* text, size_t length);

}  // namespace Corvex::Tracking::Platform
