// The Windows platform source against the running system. This program has
// no manifest, so the system reports the version it shows to programs that
// declare no support for newer systems. Facts marked "under Wine" are those
// of the Wine 8 that CI runs the tests with (set up as Windows 10).
#include <gtest/gtest.h>
#include <malloc.h>
#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "corvex/tracking.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

using Corvex::Tracking::Testing::TempFolder;
using namespace Corvex::Tracking::Platform;

extern "C" NTSYSAPI LONG NTAPI RtlGetVersion(PRTL_OSVERSIONINFOW info);

namespace {

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), n);
    return text;
}

std::wstring wideEnv(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

DWORD attributesOf(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Sets LOCALAPPDATA for one scope (nullptr: unset) and restores it after.
class ScopedLocalAppData {
public:
    explicit ScopedLocalAppData(const wchar_t* value) : saved(wideEnv(L"LOCALAPPDATA")) {
        SetEnvironmentVariableW(L"LOCALAPPDATA", value);
    }
    ~ScopedLocalAppData() {
        SetEnvironmentVariableW(L"LOCALAPPDATA", saved.empty() ? nullptr : saved.c_str());
    }

private:
    std::wstring saved;
};

// Creates a manager with the default configuration (saving on, default save
// folder), which writes the properties file there.
void createDefaultManager() {
    TrackingManager* manager = TrackingManager_Create("key", "secret", nullptr);
    ASSERT_NE(manager, nullptr);
    TrackingManager_Destroy(manager);
}

// The helper program beside this test's executable.
std::wstring besideThisProgram(const char* name) {
    wchar_t self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + wide(name);
}

// Plants a file link at link that leads to target; false when no reparse
// point is there afterwards (Wine 8 reports success and makes nothing).
bool plantLink(const std::string& link, const std::string& target) {
    CreateSymbolicLinkW(wide(link).c_str(), wide(target).c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = attributesOf(wide(link));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

TEST(WindowsPlatform, ProgramWithoutManifestSeesTheVersionTheSystemShowsOlderPrograms) {
    RTL_OSVERSIONINFOW real{};
    real.dwOSVersionInfoSize = sizeof real;
    ASSERT_EQ(RtlGetVersion(&real), 0);
    if (real.dwMajorVersion > 6 || (real.dwMajorVersion == 6 && real.dwMinorVersion >= 2)) {
        // Windows 8 and later show Windows 8 to a program without a manifest.
        EXPECT_EQ(osProductName(), "Windows 8");
        EXPECT_EQ(osVersionText(), "6.2 (Build 9200)");
    } else if (underWine()) {
        // Wine set up as Windows 7.
        EXPECT_EQ(osProductName(), "Windows 7");
        EXPECT_EQ(osVersionText(), "6.1 (Build 7601: Service Pack 1)");
    } else {
        EXPECT_NE(osProductName(), "");
    }
}

TEST(WindowsPlatform, LocalAppDataFolderIsTheVariableElseTheKnownFolder) {
    {
        ScopedLocalAppData local(L"D:\\Users\\p\\AppData\\Local");
        EXPECT_EQ(localAppDataFolder(), "D:\\Users\\p\\AppData\\Local");
    }
    // The known folder is the profile's AppData\Local, whatever the variable.
    const std::wstring profile = wideEnv(L"USERPROFILE");
    ASSERT_FALSE(profile.empty());
    const std::wstring known = profile + L"\\AppData\\Local";
    ScopedLocalAppData empty(L"");  // unset: see the default save folder test
    EXPECT_EQ(wide(localAppDataFolder()), known);
    if (underWine()) {
        wchar_t user[256] = {};
        DWORD size = 256;
        ASSERT_TRUE(GetUserNameW(user, &size));
        EXPECT_EQ(known, L"C:\\users\\" + std::wstring(user) + L"\\AppData\\Local");
    }
}

TEST(WindowsPlatform, DefaultSaveFolderIsUnderLocalAppDataWithBackslashes) {
    TempFolder base("default_save");
    ASSERT_TRUE(CreateDirectoryW(wide(base.path()).c_str(), nullptr));
    // A non-ASCII folder name checks the UTF-8 to UTF-16 path conversion.
    const std::wstring appData = wide(base.path()) + L"\\app data \u00e9";
    {
        ScopedLocalAppData local(appData.c_str());
        createDefaultManager();
    }
    const std::wstring folder = appData + L"\\Corvex\\Tracking";
    EXPECT_TRUE(isFolder(folder));
    EXPECT_TRUE(isFile(folder + L"\\.properties"));

    // Without the variable, the known local application data folder.
    const std::wstring known = wideEnv(L"USERPROFILE") + L"\\AppData\\Local";
    const std::wstring corvex = known + L"\\Corvex";
    const bool existed = isFolder(corvex);
    {
        ScopedLocalAppData unset(nullptr);
        createDefaultManager();
    }
    EXPECT_TRUE(isFile(corvex + L"\\Tracking\\.properties"));
    if (!existed) {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(corvex), ignored);
    }
}

TEST(WindowsPlatform, FoldersAndFilesKeepNonAsciiNames) {
    TempFolder base("names");
    ASSERT_EQ(makeDirectory(base.path()), MakeDirResult::Created);
    const std::string folder = base.path() + "\\dossier-\xC3\xA9t\xC3\xA9";
    EXPECT_EQ(makeDirectory(folder + "\\child"), MakeDirResult::ParentMissing);
    EXPECT_EQ(makeDirectory(folder), MakeDirResult::Created);
    EXPECT_TRUE(isFolder(wide(base.path()) + L"\\dossier-\u00e9t\u00e9"));
    EXPECT_EQ(makeDirectory(folder), MakeDirResult::AlreadyExists);
    EXPECT_TRUE(isDirectory(folder));

    const std::string file = folder + "\\.properties";
    ASSERT_TRUE(replaceFileContents(file, "{\"userId\":\"a\"}\n"));
    // A temporary file that a crash left behind is cut before the new bytes go in.
    ASSERT_TRUE(replaceFileContents(file + ".tmp", "a longer leftover of a crashed write"));
    ASSERT_TRUE(replaceFileContents(file, "second\r\nline"));  // bytes, no text mode
    std::string contents;
    ASSERT_TRUE(readWholeFile(file, contents));
    EXPECT_EQ(contents, "second\r\nline");
    EXPECT_FALSE(isDirectory(file));
    EXPECT_TRUE(fileExists(file));
    EXPECT_FALSE(fileExists(file + ".tmp"));
    EXPECT_EQ(makeDirectory(file), MakeDirResult::AlreadyExists);
    EXPECT_FALSE(replaceFileContents(folder + "\\missing\\f", "x"));
    EXPECT_FALSE(readWholeFile(folder + "\\missing\\f", contents));

    // Exclusive creation: only a name not taken yet.
    const std::string claim = folder + "\\.event_queue.owner";
    EXPECT_EQ(createFileExclusive(claim, "first\n"), CreateFileResult::Created);
    EXPECT_EQ(createFileExclusive(claim, "second\n"), CreateFileResult::AlreadyExists);
    ASSERT_TRUE(readWholeFile(claim, contents));
    EXPECT_EQ(contents, "first\n");
    EXPECT_EQ(createFileExclusive(folder + "\\missing\\f", "x"), CreateFileResult::Failed);

    // Renaming replaces an existing target.
    const std::string other = folder + "\\other";
    ASSERT_TRUE(replaceFileContents(other, "other"));
    ASSERT_TRUE(renameFile(other, file));
    ASSERT_TRUE(readWholeFile(file, contents));
    EXPECT_EQ(contents, "other");
    EXPECT_FALSE(fileExists(other));
    EXPECT_TRUE(removeFile(file));
    EXPECT_FALSE(removeFile(file));
}

TEST(WindowsPlatform, RandomAccessFileReadsAndWritesAtPositions) {
    TempFolder base("random_access");
    ASSERT_EQ(makeDirectory(base.path()), MakeDirResult::Created);
    const std::string path = base.path() + "\\.event_queue";
    RandomAccessFile file;
    EXPECT_FALSE(file.open(path, false));
    ASSERT_TRUE(file.open(path, true));
    ASSERT_TRUE(file.writeAt(10, "abc", 3));
    EXPECT_EQ(file.size(), 13);
    char buffer[3] = {};
    ASSERT_TRUE(file.readAt(10, buffer, 3));
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_FALSE(file.readAt(12, buffer, 3));  // runs past the end

    // The file stays open for others, as the queue's file must: another
    // handle reads what this one wrote and may remove it.
    std::string contents;
    ASSERT_TRUE(readWholeFile(path, contents));
    EXPECT_EQ(contents.substr(10), "abc");

    if (underWine()) {
        // Offsets past 4 GiB need the high half of the position (a sparse
        // file on the Linux side; left out on Windows, where it is not).
        const int64_t beyond = (int64_t{1} << 32) + 5;
        ASSERT_TRUE(file.writeAt(beyond, "xyz", 3));
        EXPECT_EQ(file.size(), beyond + 3);
        ASSERT_TRUE(file.readAt(beyond, buffer, 3));
        EXPECT_EQ(std::string(buffer, 3), "xyz");
        ASSERT_TRUE(file.readAt(10, buffer, 3));
        EXPECT_EQ(std::string(buffer, 3), "abc");
    }
    ASSERT_TRUE(file.truncate(4));
    EXPECT_EQ(file.size(), 4);
    EXPECT_EQ(file.namedSize(), 4);
    ASSERT_TRUE(removeFile(path));  // another handle deletes it while open
    // Windows reports the pending deletion to the open handle; Wine does not.
    if (!underWine()) {
        EXPECT_EQ(file.namedSize(), -1);
    }
    file.close();
    EXPECT_FALSE(fileExists(path));
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.writeAt(0, "x", 1));
    EXPECT_EQ(file.size(), -1);
}

TEST(WindowsPlatform, LockFileIsExclusiveAcrossProcesses) {
    TempFolder base("lock");
    ASSERT_EQ(makeDirectory(base.path()), MakeDirResult::Created);
    const std::string path = base.path() + "\\.event_queue.lock";

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, toChild = nullptr, fromChild = nullptr, childOut = nullptr;
    ASSERT_TRUE(CreatePipe(&childIn, &toChild, &inherit, 0));
    ASSERT_TRUE(CreatePipe(&fromChild, &childOut, &inherit, 0));
    SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command =
        L"\"" + besideThisProgram(CORVEX_LOCK_HOLDER) + L"\" \"" + wide(path) + L"\"";
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &child))
        << GetLastError();
    CloseHandle(childIn);
    CloseHandle(childOut);

    char line[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(fromChild, line, sizeof line - 1, &got, nullptr));
    EXPECT_EQ(std::string(line, got).substr(0, 6), "locked");

    FileLock mine;
    EXPECT_FALSE(mine.tryLock(path));  // held by the other process
    CloseHandle(toChild);              // the holder's input ends: it lets go
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(fromChild);

    ASSERT_TRUE(mine.tryLock(path));
    FileLock second;
    EXPECT_FALSE(second.tryLock(path));  // a second handle in this process too
    mine.release();
    EXPECT_TRUE(second.tryLock(path));
    second.release();
    EXPECT_TRUE(fileExists(path));
}

TEST(WindowsPlatform, OnlyHandlesWithTheAttributesOfARegularFileAreKept) {
    // Made-up attribute sets, so that the refusal is checked whatever the
    // system under the test does with links.
    EXPECT_TRUE(isRegularFileAttributes(FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(isRegularFileAttributes(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SPARSE_FILE));
    EXPECT_FALSE(isRegularFileAttributes(FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(isRegularFileAttributes(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(isRegularFileAttributes(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(isRegularFileAttributes(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

TEST(WindowsPlatform, PlantedLinksAreNotFollowed) {
    TempFolder base("links");
    ASSERT_EQ(makeDirectory(base.path()), MakeDirResult::Created);
    const std::string victim = base.file("victim");
    const std::string absent = base.file("absent");
    ASSERT_TRUE(replaceFileContents(victim, "precious"));
    for (const auto& [name, target] : {std::pair{".properties", victim},
                                       {".properties.tmp", victim},
                                       {".event_queue", victim},
                                       {".event_queue.new", absent},
                                       {".event_queue.lock", absent},
                                       {".event_queue.owner", absent}}) {
        if (!plantLink(base.file(name), target)) {
            GTEST_SKIP() << "CreateSymbolicLinkW made no reparse point at " << name
                         << " (Wine, or no right to make links)";
        }
    }

    std::string contents;
    EXPECT_FALSE(readWholeFile(base.file(".properties"), contents));
    EXPECT_FALSE(replaceFileContents(base.file(".properties"), "{}"));  // through .properties.tmp
    RandomAccessFile file;
    EXPECT_FALSE(file.open(base.file(".event_queue"), false));
    EXPECT_FALSE(file.open(base.file(".event_queue.new"), true));
    FileLock lock;
    EXPECT_FALSE(lock.tryLock(base.file(".event_queue.lock")));
    EXPECT_EQ(createFileExclusive(base.file(".event_queue.owner"), "x"),
              CreateFileResult::AlreadyExists);

    ASSERT_TRUE(readWholeFile(victim, contents));
    EXPECT_EQ(contents, "precious");
    EXPECT_FALSE(fileExists(absent));
    EXPECT_TRUE(attributesOf(wide(base.file(".properties.tmp"))) & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST(WindowsPlatform, ClockAndTextsForTheHost) {
    const int64_t before = int64_t(std::time(nullptr)) * 1000;
    const int64_t now = nowMs();
    EXPECT_GE(now, before);
    EXPECT_LT(now, before + 2000);

    // The copy lives in the heap of the C runtime whose free() the host calls.
    char* copy = duplicateForHost("text");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "text");
    EXPECT_TRUE(HeapValidate(reinterpret_cast<HANDLE>(_get_heap_handle()), 0, copy));
    std::free(copy);

    const std::string address = localIpv4Address();
    EXPECT_TRUE(address.empty() || std::regex_match(address, std::regex(R"(\d+\.\d+\.\d+\.\d+)")))
        << address;
    EXPECT_NE(address.substr(0, 4), "127.");
}
