// Every operating-system call of the library sits behind this header: one
// source per platform (platform_posix.cpp, platform_windows.cpp) implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvex::Tracking::Platform {

// The separator the library joins paths with, and every character that
// separates the parts of a path given to it: Windows takes "/" and "\" alike,
// POSIX only "/" ("\" is a character of a file name there).
#ifdef _WIN32
constexpr char PATH_SEPARATOR = '\\';
constexpr const char* PATH_SEPARATORS = "/\\";
#else
constexpr char PATH_SEPARATOR = '/';
constexpr const char* PATH_SEPARATORS = "/";
#endif

// Wall-clock milliseconds since 1970-01-01 UTC: the system time in 100 ns
// units divided by 10000, truncated.
int64_t nowMs();
// Milliseconds of a monotonic clock read without asking the timer hardware:
// it steps once per scheduler tick (1 to 16 ms), which suits intervals of
// several milliseconds at a fraction of a precise read's cost.
int64_t coarseMonotonicMs();

// The value of an environment variable, or "" when it is not set.
std::string getEnv(const char* name);

// Base folder for per-user application data, without a trailing separator:
// LOCALAPPDATA when set and non-empty; elsewhere the platform's own choice
// (XDG_DATA_HOME, then $HOME/.local/share on POSIX).
std::string localAppDataFolder();

enum class MakeDirResult { Created, ParentMissing, AlreadyExists, Failed };
// Creates one folder level (mode 0700 on POSIX).
MakeDirResult makeDirectory(const std::string& path);
bool isDirectory(const std::string& path);

// The product name and version text of the running operating system, as the
// tracking properties report them ("" when the query fails).
std::string osProductName();
std::string osVersionText();

// The first IPv4 address of a non-loopback interface in the order the system
// lists them, dotted decimal; "" when there is none.
std::string localIpv4Address();

// A heap copy of the text made with the C runtime's malloc, for the host to
// release with free(). Never null unless memory is exhausted.
char* duplicateForHost(const std::string& text);

// The files of the save folder are opened without following a link in the
// last part of their path, so that a link planted there (in a folder others
// can write) cannot make the library write to, or create, a file elsewhere.
#ifdef _WIN32
// On Windows a name is opened as itself (a link as the reparse point it is),
// and the handle is kept only when the attributes Windows reports for it, given
// here, show a regular file: no reparse point, no folder.
bool isRegularFileAttributes(uint32_t attributes);
#endif

// Whole-file helpers for small files (the properties file). readWholeFile
// gives false when the file cannot be opened or read, or is not a regular
// file (a FIFO or device in its place would block or never end the read).
bool readWholeFile(const std::string& path, std::string& contents);
// Writes the bytes to a new file beside the path and moves it over the path,
// so a reader sees the old or the new contents, never a torn file. The file is
// created with mode 0600 on POSIX.
bool replaceFileContents(const std::string& path, const std::string& contents);
enum class CreateFileResult { Created, AlreadyExists, Failed };
// Creates the file only when no file, folder or link bears the name (O_EXCL;
// CREATE_NEW on Windows), so that of callers racing for one name exactly one
// gets Created. Writes the bytes, syncs the file, then its folder; mode 0600
// on POSIX. A file whose write or sync failed is removed again.
CreateFileResult createFileExclusive(const std::string& path, const std::string& contents);
bool removeFile(const std::string& path);
bool fileExists(const std::string& path);
// Moves a file over another one, replacing it. On Windows the move is
// written through to the disk before the call returns.
bool renameFile(const std::string& from, const std::string& to);
// Makes the creation, renaming and removal of files in the folder that holds
// the path durable (fsync of the folder on POSIX). Windows has no such call
// for folders: there, renames are written through instead.
bool syncFolderOf(const std::string& path);

// The system's bundle of certificate authorities for TLS, the first that
// exists of the places Linux distributions keep it: Debian's and Ubuntu's,
// Fedora's and RHEL's, openSUSE's, then older RHEL's. "" when there is none,
// and always on Windows, where Schannel checks against the system's own store.
std::string systemCertificateBundle();

// A file opened for positioned reads and writes (the queue file).
class RandomAccessFile {
public:
    RandomAccessFile() = default;
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    // Opens for reading and writing without truncation; with create, a
    // missing file is created (mode 0600 on POSIX).
    bool open(const std::string& path, bool create);
    bool isOpen() const;
    // Each transfers exactly n bytes or fails.
    bool readAt(int64_t offset, void* buffer, size_t n);
    bool writeAt(int64_t offset, const void* buffer, size_t n);
    // The size on disk, or -1.
    int64_t size();
    // The size on disk while a name still leads to the file, else -1 (another
    // program deleted it while it was open, or the query failed). One query of
    // the open file, which leaves the file's times alone: asking for them
    // would make the next write update them at once, at a cost.
    int64_t namedSize();
    // Cuts or extends the file to the given size.
    bool truncate(int64_t size);
    // Waits until the written bytes and the size are on stable storage
    // (fdatasync; FlushFileBuffers on Windows).
    bool sync();
    // Opens `copy` as a second handle on the same open file (dup;
    // DuplicateHandle on Windows), so that one thread can sync the file while
    // another goes on writing through this one.
    bool duplicateInto(RandomAccessFile& copy) const;
    void close();

private:
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
};

// An exclusive advisory lock on a lock file, held until release or
// destruction. The lock file itself is never deleted.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the lock file if needed and takes the lock without waiting;
    // false when another holder has it or the file cannot be opened.
    bool tryLock(const std::string& path);
    void release();

private:
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
#endif
};

}  // namespace Corvex::Tracking::Platform
