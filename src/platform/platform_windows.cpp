// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <shlobj.h>
// clang-format on

#include <direct.h>
#include <errno.h>
#include <sys/stat.h>
#include <wchar.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/windows_version.h"

namespace Corvex::Tracking::Platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// Paths and environment values are UTF-8 inside the library and UTF-16 at the
// system. An invalid UTF-8 sequence becomes U+FFFD.
std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string narrow(const wchar_t* text, size_t length) {
    return utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length);
}

HANDLE toHandle(void* handle) {
    return handle ? static_cast<HANDLE>(handle) : INVALID_HANDLE_VALUE;
}

void* fromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// Every file is shared for reading, writing and deletion, like a POSIX file:
// nothing stops another handle from renaming or removing it.
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the name itself, not what a reparse point (a link) planted under it
// leads to, and refuses whatever is not a regular file. The check reads the
// open handle, so nothing can be swapped in between check and use.
HANDLE openFile(const std::string& path, DWORD access, DWORD disposition) {
    const HANDLE file = CreateFileW(widen(path).c_str(), access, SHARE_ALL, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        !isRegularFileAttributes(info.dwFileAttributes)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

OVERLAPPED at(int64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return position;
}

// The largest piece one ReadFile or WriteFile call moves.
constexpr size_t MAX_PIECE = 1u << 30;

bool writeAll(HANDLE file, const char* data, size_t n) {
    while (n > 0) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(n < MAX_PIECE ? n : MAX_PIECE);
        if (!WriteFile(file, data, piece, &written, nullptr) || written == 0) return false;
        data += written;
        n -= written;
    }
    return true;
}

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t EPOCH_DIFFERENCE_TICKS = 116444736000000000LL;

// The first GetAdaptersAddresses buffer, and how many calls a growing list gets.
constexpr ULONG ADAPTER_BUFFER_BYTES = 15000;
constexpr int ADAPTER_CALLS = 3;

}  // namespace

bool isRegularFileAttributes(uint32_t attributes) {
    return (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

int64_t nowMs() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                               time.dwLowDateTime);
    return (ticks - EPOCH_DIFFERENCE_TICKS) / 10000;
}

int64_t coarseMonotonicMs() {
    return static_cast<int64_t>(GetTickCount64());
}

std::string getEnv(const char* name) {
    const std::wstring wideName = widen(name ? name : "");
    std::vector<wchar_t> value(256);
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (length == 0) return std::string();  // unset, or set to ""
        if (length < value.size()) return narrow(value.data(), length);
        value.resize(length);  // the size needed, terminator included
    }
}

std::string localAppDataFolder() {
    std::string base = getEnv("LOCALAPPDATA");
    if (!base.empty()) return base;
    PWSTR known = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) {
        folder = narrow(known, wcslen(known));
    }
    CoTaskMemFree(known);
    // Without either, the save folder is relative to the working directory.
    return folder.empty() ? std::string(".") : folder;
}

MakeDirResult makeDirectory(const std::string& path) {
    if (_wmkdir(widen(path).c_str()) == 0) return MakeDirResult::Created;
    if (errno == ENOENT) return MakeDirResult::ParentMissing;
    if (errno == EEXIST) return MakeDirResult::AlreadyExists;
    return MakeDirResult::Failed;
}

bool isDirectory(const std::string& path) {
    struct _stat64i32 status {};
    return _wstat64i32(widen(path).c_str(), &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
}

std::string osProductName() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return "";
    return windowsProductName(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                              info.wProductType);
}

std::string osVersionText() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info)) return "";
    const auto* servicePack = reinterpret_cast<const char16_t*>(info.szCSDVersion);
    return formatOsVersion(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                           std::u16string(servicePack));
}

std::string localIpv4Address() {
    constexpr ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                            GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG size = ADAPTER_BUFFER_BYTES;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int call = 0; call < ADAPTER_CALLS && result == ERROR_BUFFER_OVERFLOW; ++call) {
        buffer.assign(size, 0);  // the size asked for by the call before
        result =
            GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return "";
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (auto* address = adapter->FirstUnicastAddress; address != nullptr;
             address = address->Next) {
            const SOCKADDR* socketAddress = address->Address.lpSockaddr;
            if (socketAddress == nullptr || socketAddress->sa_family != AF_INET) continue;
            char text[22] = {};
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(socketAddress);
            if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) return "";
            return text;
        }
    }
    return "";
}

char* duplicateForHost(const std::string& text) {
    return _strdup(text.c_str());
}

bool readWholeFile(const std::string& path, std::string& contents) {
    const HANDLE file = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return false;
    contents.clear();
    char buffer[4096];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        contents.append(buffer, got);
    }
    CloseHandle(file);
    return ok;
}

bool replaceFileContents(const std::string& path, const std::string& contents) {
    const std::string temporary = path + ".tmp";
    // Opened and then cut, as the reparse point flag of openFile rules out CREATE_ALWAYS.
    const HANDLE file = openFile(temporary, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = SetEndOfFile(file) && writeAll(file, contents.data(), contents.size());
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
    if (ok) {
        ok = MoveFileExW(widen(temporary).c_str(), widen(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) DeleteFileW(widen(temporary).c_str());
    return ok;
}

CreateFileResult createFileExclusive(const std::string& path, const std::string& contents) {
    // CREATE_NEW fails on any existing name, a reparse point included.
    const HANDLE file = openFile(path, GENERIC_WRITE, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? CreateFileResult::AlreadyExists
                   : CreateFileResult::Failed;
    }
    bool ok = writeAll(file, contents.data(), contents.size());
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
    if (ok && syncFolderOf(path)) return CreateFileResult::Created;
    DeleteFileW(widen(path).c_str());
    return CreateFileResult::Failed;
}

bool removeFile(const std::string& path) {
    return DeleteFileW(widen(path).c_str());
}

bool fileExists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool renameFile(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool syncFolderOf(const std::string&) {
    return true;  // every rename above is written through
}

std::string systemCertificateBundle() {
    return "";
}

RandomAccessFile::~RandomAccessFile() {
    close();
}

bool RandomAccessFile::open(const std::string& path, bool create) {
    close();
    handle = fromHandle(
        openFile(path, GENERIC_READ | GENERIC_WRITE, create ? OPEN_ALWAYS : OPEN_EXISTING));
    return handle != nullptr;
}

bool RandomAccessFile::isOpen() const {
    return handle != nullptr;
}

bool RandomAccessFile::readAt(int64_t offset, void* buffer, size_t n) {
    if (handle == nullptr) return false;
    auto* out = static_cast<char*>(buffer);
    while (n > 0) {
        OVERLAPPED position = at(offset);
        DWORD got = 0;
        const DWORD piece = static_cast<DWORD>(n < MAX_PIECE ? n : MAX_PIECE);
        if (!ReadFile(toHandle(handle), out, piece, &got, &position)) return false;
        if (got == 0) return false;  // short file
        out += got;
        offset += got;
        n -= got;
    }
    return true;
}

bool RandomAccessFile::writeAt(int64_t offset, const void* buffer, size_t n) {
    if (handle == nullptr) return false;
    const auto* in = static_cast<const char*>(buffer);
    while (n > 0) {
        OVERLAPPED position = at(offset);
        DWORD put = 0;
        const DWORD piece = static_cast<DWORD>(n < MAX_PIECE ? n : MAX_PIECE);
        if (!WriteFile(toHandle(handle), in, piece, &put, &position) || put == 0) return false;
        in += put;
        offset += put;
        n -= put;
    }
    return true;
}

int64_t RandomAccessFile::size() {
    LARGE_INTEGER bytes{};
    if (handle == nullptr || !GetFileSizeEx(toHandle(handle), &bytes)) return -1;
    return bytes.QuadPart;
}

int64_t RandomAccessFile::namedSize() {
    // A file deleted while open stays, pending deletion, until its last
    // handle closes; no name leads to it any more.
    FILE_STANDARD_INFO info{};
    if (handle == nullptr ||
        !GetFileInformationByHandleEx(toHandle(handle), FileStandardInfo, &info, sizeof info) ||
        info.DeletePending || info.NumberOfLinks == 0) {
        return -1;
    }
    return info.EndOfFile.QuadPart;
}

bool RandomAccessFile::truncate(int64_t newSize) {
    if (handle == nullptr) return false;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = newSize;
    return SetFileInformationByHandle(toHandle(handle), FileEndOfFileInfo, &end, sizeof end);
}

bool RandomAccessFile::sync() {
    return handle != nullptr && FlushFileBuffers(toHandle(handle));
}

bool RandomAccessFile::duplicateInto(RandomAccessFile& copy) const {
    copy.close();
    if (handle == nullptr) return false;
    HANDLE duplicate = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, toHandle(handle), process, &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    copy.handle = fromHandle(duplicate);
    return true;
}

void RandomAccessFile::close() {
    if (handle != nullptr) CloseHandle(toHandle(handle));
    handle = nullptr;
}

FileLock::~FileLock() {
    release();
}

bool FileLock::tryLock(const std::string& path) {
    release();
    const HANDLE file = openFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    // The lock covers the first byte, whether or not the file holds one.
    OVERLAPPED position = at(0);
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &position)) {
        CloseHandle(file);
        return false;
    }
    handle = file;
    return true;
}

void FileLock::release() {
    if (handle == nullptr) return;
    OVERLAPPED position = at(0);
    UnlockFileEx(toHandle(handle), 0, 1, 0, &position);
    CloseHandle(toHandle(handle));
    handle = nullptr;
}

}  // namespace Corvex::Tracking::Platform
