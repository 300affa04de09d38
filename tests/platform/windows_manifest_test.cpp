// The OS queries from a program whose manifest declares Windows 10: the
// system then reports its real version, the one RtlGetVersion gives.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/platform.h"

using namespace Corvex::Tracking::Platform;

extern "C" NTSYSAPI LONG NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW info);

TEST(WindowsManifest, ProgramThatDeclaresWindows10SeesTheRealVersion) {
    RTL_OSVERSIONINFOW real{};
    real.dwOSVersionInfoSize = sizeof real;
    ASSERT_EQ(RtlGetVersion(&real), 0);
    std::string expected = std::to_string(real.dwMajorVersion) + "." +
                           std::to_string(real.dwMinorVersion) + " (Build " +
                           std::to_string(real.dwBuildNumber & 0xFFFF);
    if (real.szCSDVersion[0] != 0) {
        expected += ": ";
        for (const wchar_t* c = real.szCSDVersion; *c != 0; ++c) expected += char(*c);  // ASCII
    }
    EXPECT_EQ(osVersionText(), expected + ")");
    // The tests run on a workstation (Wine reports one).
    if (real.dwMajorVersion == 10) {
        EXPECT_EQ(osProductName(), real.dwBuildNumber >= 22000 ? "Windows 11" : "Windows 10");
    }
}
