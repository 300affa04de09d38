#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "platform/platform.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using namespace Corvex::Tracking::Platform;
using Corvex::Tracking::Testing::TempFolder;

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) saved = old, had = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (had)
            setenv(name, saved.c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    std::string saved;
    bool had = false;
};

int modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

}  // namespace

TEST(Platform, LocalAppDataFolderPrefersLocalAppDataThenXdgThenHome) {
    ScopedEnv home("HOME", "/home/player");
    {
        ScopedEnv local("LOCALAPPDATA", "/data/local");
        ScopedEnv xdg("XDG_DATA_HOME", "/data/xdg");
        EXPECT_EQ(localAppDataFolder(), "/data/local");
    }
    {
        ScopedEnv local("LOCALAPPDATA", "");
        ScopedEnv xdg("XDG_DATA_HOME", "/data/xdg");
        EXPECT_EQ(localAppDataFolder(), "/data/xdg");
    }
    ScopedEnv local("LOCALAPPDATA", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(localAppDataFolder(), "/home/player/.local/share");
}

TEST(Platform, MakeDirectoryTellsTheReasonAndCreatesPrivateFolders) {
    const TempFolder folder("platform_mkdir");
    EXPECT_EQ(makeDirectory(folder.file("a/b")), MakeDirResult::ParentMissing);
    EXPECT_EQ(makeDirectory(folder.path()), MakeDirResult::Created);
    EXPECT_EQ(modeOf(folder.path()), 0700);
    EXPECT_EQ(makeDirectory(folder.path()), MakeDirResult::AlreadyExists);
    EXPECT_TRUE(isDirectory(folder.path()));
    ASSERT_TRUE(replaceFileContents(folder.file("file"), "x"));
    EXPECT_FALSE(isDirectory(folder.file("file")));
}

TEST(Platform, ReplaceFileContentsWritesWholePrivateFile) {
    const TempFolder folder("platform_replace", TempFolder::Create::Now);
    const std::string path = folder.file(".properties");
    ASSERT_TRUE(replaceFileContents(path, "{\"userId\":\"a\"}\n"));
    ASSERT_TRUE(replaceFileContents(path, "second"));
    std::string contents;
    ASSERT_TRUE(readWholeFile(path, contents));
    EXPECT_EQ(contents, "second");
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_FALSE(fs::exists(path + ".tmp"));
    EXPECT_FALSE(replaceFileContents(folder.file("missing/f"), "x"));
    EXPECT_FALSE(readWholeFile(folder.file("missing/f"), contents));
}

TEST(Platform, CreateFileExclusiveMakesOnlyNamesNotTaken) {
    const TempFolder folder("platform_exclusive", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue.owner");
    EXPECT_EQ(createFileExclusive(path, "first\n"), CreateFileResult::Created);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(createFileExclusive(path, "second\n"), CreateFileResult::AlreadyExists);
    std::string contents;
    ASSERT_TRUE(readWholeFile(path, contents));
    EXPECT_EQ(contents, "first\n");
    // A link under the name, even one that leads nowhere, is a name taken.
    fs::create_symlink(folder.file("absent"), folder.file("link"));
    EXPECT_EQ(createFileExclusive(folder.file("link"), "x"), CreateFileResult::AlreadyExists);
    EXPECT_FALSE(fs::exists(folder.file("absent")));
    EXPECT_EQ(createFileExclusive(folder.file("missing/f"), "x"), CreateFileResult::Failed);
}

TEST(Platform, RandomAccessFileReadsAndWritesAtPositions) {
    const TempFolder folder("platform_raf", TempFolder::Create::Now);
    const std::string path = folder.file("ring");
    RandomAccessFile file;
    EXPECT_FALSE(file.open(path, false));
    ASSERT_TRUE(file.open(path, true));
    EXPECT_EQ(modeOf(path), 0600);
    ASSERT_TRUE(file.writeAt(10, "abc", 3));
    EXPECT_EQ(file.size(), 13);
    char buffer[3] = {};
    ASSERT_TRUE(file.readAt(10, buffer, 3));
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_FALSE(file.readAt(12, buffer, 3));  // runs past the end
    ASSERT_TRUE(file.truncate(4));
    EXPECT_EQ(file.size(), 4);
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.writeAt(0, "x", 1));
}

TEST(Platform, FileLockIsExclusiveUntilReleased) {
    const TempFolder folder("platform_lock", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue.lock");
    FileLock first, second;
    ASSERT_TRUE(first.tryLock(path));
    EXPECT_FALSE(second.tryLock(path));
    first.release();
    EXPECT_TRUE(second.tryLock(path));
    EXPECT_TRUE(fs::exists(path));
}

TEST(Platform, SystemCertificateBundleIsTheFirstPlaceThatHoldsOne) {
    std::string expected;
    for (const char* path :
         {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
          "/etc/ssl/ca-bundle.pem", "/etc/pki/tls/cacert.pem"}) {
        if (fs::exists(path)) {
            expected = path;
            break;
        }
    }
    EXPECT_EQ(systemCertificateBundle(), expected);
}

TEST(Platform, ClockAndSystemFacts) {
    const int64_t now = nowMs();
    EXPECT_GT(now, 1600000000000LL);  // after September 2020
    EXPECT_EQ(osProductName(), "Linux");
    EXPECT_TRUE(std::regex_match(osVersionText(), std::regex(R"(\d+\.\d+ \(Build \d+\))")))
        << osVersionText();
    const std::string address = localIpv4Address();
    EXPECT_TRUE(address.empty() || std::regex_match(address, std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
    EXPECT_NE(address, "127.0.0.1");
    char* copy = duplicateForHost("text");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "text");
    std::free(copy);
}
