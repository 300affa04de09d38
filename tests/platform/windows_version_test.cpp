#include "platform/windows_version.h"

#include <gtest/gtest.h>

using namespace Corvex::Tracking::Platform;

namespace {
constexpr int WORKSTATION = WINDOWS_WORKSTATION;
constexpr int SERVER = 3;
}  // namespace

TEST(WindowsProductName, NamesOlderVersionsByProductType) {
    EXPECT_EQ(windowsProductName(5, 0, 2195, SERVER), "Windows 2000");
    EXPECT_EQ(windowsProductName(5, 1, 2600, WORKSTATION), "Windows XP");
    EXPECT_EQ(windowsProductName(5, 2, 3790, SERVER), "Windows Server 2003/Windows Server 2003 R2");
    EXPECT_EQ(windowsProductName(6, 0, 6002, WORKSTATION), "Windows Vista");
    EXPECT_EQ(windowsProductName(6, 0, 6002, SERVER), "Windows Server 2008");
    EXPECT_EQ(windowsProductName(6, 1, 7601, WORKSTATION), "Windows 7");
    EXPECT_EQ(windowsProductName(6, 1, 7601, 2), "Windows Server 2008 R2");  // domain controller
    EXPECT_EQ(windowsProductName(6, 2, 9200, WORKSTATION), "Windows 8");
    EXPECT_EQ(windowsProductName(6, 2, 9200, SERVER), "Windows Server 2012");
    EXPECT_EQ(windowsProductName(6, 3, 9600, WORKSTATION), "Windows 8.1");
    EXPECT_EQ(windowsProductName(6, 3, 9600, SERVER), "Windows Server 2012 R2");
    EXPECT_EQ(windowsProductName(6, 4, 0, WORKSTATION), "Unknown");
    EXPECT_EQ(windowsProductName(11, 0, 30000, WORKSTATION), "Unknown");
}

TEST(WindowsProductName, TenDecidesByBuildBeforeProductType) {
    EXPECT_EQ(windowsProductName(10, 0, 21999, WORKSTATION), "Windows 10");
    EXPECT_EQ(windowsProductName(10, 0, 22000, WORKSTATION), "Windows 11");
    EXPECT_EQ(windowsProductName(10, 0, 17762, SERVER), "Windows Server 2016");
    EXPECT_EQ(windowsProductName(10, 0, 17763, SERVER), "Windows Server 2019");
    EXPECT_EQ(windowsProductName(10, 0, 20347, SERVER), "Windows Server 2019");
    EXPECT_EQ(windowsProductName(10, 0, 20348, SERVER), "Windows Server 2022");
    EXPECT_EQ(windowsProductName(10, 0, 21999, SERVER), "Windows Server 2022");
    EXPECT_EQ(windowsProductName(10, 0, 22000, SERVER), "Windows 11");
    EXPECT_EQ(windowsProductName(10, 0, 26100, SERVER), "Windows 11");
}

TEST(FormatOsVersion, WritesBuildAndServicePack) {
    EXPECT_EQ(formatOsVersion(10, 0, 19045, u""), "10.0 (Build 19045)");
    EXPECT_EQ(formatOsVersion(6, 1, 7601, u"Service Pack 1"), "6.1 (Build 7601: Service Pack 1)");
    // Only the low 16 bits of the build number are written.
    EXPECT_EQ(formatOsVersion(10, 0, 65536 + 22631, u""), "10.0 (Build 22631)");
    EXPECT_EQ(formatOsVersion(6, 1, 7601, u"\u00e9t\u00e9"), "6.1 (Build 7601: \xC3\xA9t\xC3\xA9)");
    // A malformed surrogate pair in the service-pack text becomes one "?".
    EXPECT_EQ(formatOsVersion(6, 1, 7601, std::u16string{0xD800, u'A'}), "6.1 (Build 7601: ?)");
}

TEST(Utf16ToUtf8, EncodesEveryLengthAndReplacesMalformedSurrogates) {
    const auto convert = [](std::u16string text) { return utf16ToUtf8(text.data(), text.size()); };
    EXPECT_EQ(convert(u"A"), "A");
    EXPECT_EQ(convert(u"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(convert(u"\u20ac"), "\xE2\x82\xAC");
    EXPECT_EQ(convert(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(convert(std::u16string{0xD83D}), "?");         // high surrogate last
    EXPECT_EQ(convert(std::u16string{0xDE00, u'x'}), "?x");  // lone low surrogate
    // A high surrogate followed by another high one consumes both; the low one
    // left alone is a second "?".
    EXPECT_EQ(convert(std::u16string{0xD83D, 0xD83D, 0xDE00}), "??");
    EXPECT_EQ(convert(u""), "");
}
