#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace Corvex::Tracking::Platform {

int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // 100 ns ticks divided by 10000, truncating toward zero like the tick count.
    const int64_t ticks = static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
    return ticks / 10000;
}

int64_t coarseMonotonicMs() {
#ifdef CLOCK_MONOTONIC_COARSE
    constexpr clockid_t CLOCK = CLOCK_MONOTONIC_COARSE;
#else
    constexpr clockid_t CLOCK = CLOCK_MONOTONIC;
#endif
    timespec ts{};
    clock_gettime(CLOCK, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string getEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string localAppDataFolder() {
    std::string base = getEnv("LOCALAPPDATA");
    if (!base.empty()) return base;
    base = getEnv("XDG_DATA_HOME");
    if (!base.empty()) return base;
    base = getEnv("HOME");
    if (base.empty()) return ".local/share";
    return base + "/.local/share";
}

MakeDirResult makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        // The new folder's name must reach the disk with the files made in it.
        syncFolderOf(path);
        return MakeDirResult::Created;
    }
    if (errno == ENOENT) return MakeDirResult::ParentMissing;
    if (errno == EEXIST) return MakeDirResult::AlreadyExists;
    return MakeDirResult::Failed;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string osProductName() {
    utsname name{};
    if (::uname(&name) != 0) return "";
    return name.sysname;
}

std::string osVersionText() {
    // The kernel release "6.1.0-13-amd64" reads as 6.1 (Build 0): major and
    // minor, then the third number as the build.
    utsname name{};
    if (::uname(&name) != 0) return "";
    unsigned long numbers[3] = {0, 0, 0};
    const char* p = name.release;
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9') break;
        char* end = nullptr;
        numbers[i] = std::strtoul(p, &end, 10);
        p = end;
        if (*p != '.') break;
        ++p;
    }
    return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + " (Build " +
           std::to_string(numbers[2]) + ")";
}

std::string localIpv4Address() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return "";
    std::string result;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        if (it->ifa_flags & IFF_LOOPBACK) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
            result = text;
            break;
        }
    }
    ::freeifaddrs(list);
    return result;
}

char* duplicateForHost(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

bool readWholeFile(const std::string& path, std::string& contents) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    contents.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

namespace {

bool writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t written = ::write(fd, data, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        n -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool replaceFileContents(const std::string& path, const std::string& contents) {
    const std::string temporary = path + ".tmp";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = writeAll(fd, contents.data(), contents.size());
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    // Best effort: a file system that cannot sync a folder still made the move.
    if (ok) syncFolderOf(path);
    return ok;
}

CreateFileResult createFileExclusive(const std::string& path, const std::string& contents) {
    // O_EXCL fails on any existing name, a link included, without following it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == EEXIST ? CreateFileResult::AlreadyExists : CreateFileResult::Failed;
    bool ok = writeAll(fd, contents.data(), contents.size());
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok && syncFolderOf(path)) return CreateFileResult::Created;
    ::unlink(path.c_str());
    return CreateFileResult::Failed;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool fileExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

bool renameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool syncFolderOf(const std::string& path) {
    const size_t slash = path.find_last_of(PATH_SEPARATORS);
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string systemCertificateBundle() {
    for (const char* path :
         {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
          "/etc/ssl/ca-bundle.pem", "/etc/pki/tls/cacert.pem"}) {
        if (fileExists(path)) return path;
    }
    return "";
}

RandomAccessFile::~RandomAccessFile() {
    close();
}

bool RandomAccessFile::open(const std::string& path, bool create) {
    close();
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    if (create) flags |= O_CREAT;
    fd = ::open(path.c_str(), flags, 0600);
    return fd >= 0;
}

bool RandomAccessFile::isOpen() const {
    return fd >= 0;
}

bool RandomAccessFile::readAt(int64_t offset, void* buffer, size_t n) {
    if (fd < 0) return false;
    auto* out = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::pread(fd, out, n, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return false;  // short file
        out += got;
        offset += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool RandomAccessFile::writeAt(int64_t offset, const void* buffer, size_t n) {
    if (fd < 0) return false;
    const auto* in = static_cast<const char*>(buffer);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, in, n, static_cast<off_t>(offset));
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        in += put;
        offset += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

int64_t RandomAccessFile::size() {
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t RandomAccessFile::namedSize() {
    if (fd < 0) return -1;
#ifdef STATX_NLINK
    struct statx st {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_SIZE | STATX_NLINK, &st) != 0) return -1;
    return st.stx_nlink > 0 ? static_cast<int64_t>(st.stx_size) : -1;
#else
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return st.st_nlink > 0 ? static_cast<int64_t>(st.st_size) : -1;
#endif
}

bool RandomAccessFile::truncate(int64_t newSize) {
    return fd >= 0 && ::ftruncate(fd, static_cast<off_t>(newSize)) == 0;
}

bool RandomAccessFile::sync() {
    return fd >= 0 && ::fdatasync(fd) == 0;
}

bool RandomAccessFile::duplicateInto(RandomAccessFile& copy) const {
    copy.close();
    if (fd < 0) return false;
    copy.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return copy.fd >= 0;
}

void RandomAccessFile::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

FileLock::~FileLock() {
    release();
}

bool FileLock::tryLock(const std::string& path) {
    release();
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) syncFolderOf(path);
    }
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

void FileLock::release() {
    if (fd >= 0) ::close(fd);  // closing drops the lock
    fd = -1;
}

}  // namespace Corvex::Tracking::Platform
