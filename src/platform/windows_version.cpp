#include "platform/windows_version.h"

namespace Corvex::Tracking::Platform {

std::string windowsProductName(uint32_t major, uint32_t minor, uint32_t build, int productType) {
    const bool workstation = productType == WINDOWS_WORKSTATION;
    if (major == 5 && minor == 0) return "Windows 2000";
    if (major == 5 && minor == 1) return "Windows XP";
    if (major == 5 && minor == 2) return "Windows Server 2003/Windows Server 2003 R2";
    if (major == 6 && minor == 0) return workstation ? "Windows Vista" : "Windows Server 2008";
    if (major == 6 && minor == 1) return workstation ? "Windows 7" : "Windows Server 2008 R2";
    if (major == 6 && minor == 2) return workstation ? "Windows 8" : "Windows Server 2012";
    if (major == 6 && minor == 3) return workstation ? "Windows 8.1" : "Windows Server 2012 R2";
    if (major == 10 && minor == 0) {
        // The build number decides before the product type.
        if (build >= 22000) return "Windows 11";
        if (workstation) return "Windows 10";
        if (build >= 20348) return "Windows Server 2022";
        if (build >= 17763) return "Windows Server 2019";
        return "Windows Server 2016";
    }
    return "Unknown";
}

std::string formatOsVersion(uint32_t major, uint32_t minor, uint32_t build,
                            const std::u16string& servicePack) {
    std::string text = std::to_string(major) + "." + std::to_string(minor) + " (Build " +
                       std::to_string(build & 0xFFFFu);
    if (!servicePack.empty()) {
        text += ": ";
        text += utf16ToUtf8(servicePack.data(), servicePack.size());
    }
    text += ")";
    return text;
}

namespace {

void appendCodePoint(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string utf16ToUtf8(const char16_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == length) {
                out += '?';  // high surrogate as the last unit
            } else {
                const uint32_t low = text[++i];  // both units are consumed
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                } else {
                    out += '?';
                }
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            out += '?';  // low surrogate on its own
        } else {
            appendCodePoint(out, unit);
        }
    }
    return out;
}

}  // namespace Corvex::Tracking::Platform
