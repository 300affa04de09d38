// The file operations of the queue file, on one open file at a time. This
// class passes them straight to the platform; tests derive from it to make a
// chosen operation fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace Corvex::Tracking {

class QueueFileLayer {
public:
    QueueFileLayer() = default;
    virtual ~QueueFileLayer() = default;
    QueueFileLayer(const QueueFileLayer&) = delete;
    QueueFileLayer& operator=(const QueueFileLayer&) = delete;

    // Opens for reading and writing, closing the file opened before; with
    // create, a missing file is created (mode 0600 on POSIX).
    virtual bool open(const std::string& path, bool create);
    // Each transfers exactly n bytes or fails.
    virtual bool readAt(int64_t offset, void* buffer, size_t n);
    virtual bool writeAt(int64_t offset, const void* buffer, size_t n);
    // The size on disk, or -1.
    virtual int64_t size();
    // The size on disk while a name still leads to the open file, else -1.
    virtual int64_t namedSize();
    virtual bool truncate(int64_t size);
    virtual void close();

    // A second handle on the open file. Its sync makes durable the writes
    // completed before the handle was made, and runs without the lock that
    // guards the first handle; it stays valid when the first is closed.
    class SyncHandle {
    public:
        SyncHandle() = default;
        virtual ~SyncHandle() = default;
        SyncHandle(const SyncHandle&) = delete;
        SyncHandle& operator=(const SyncHandle&) = delete;
        virtual bool sync() = 0;
    };
    // Null when no file is open or no handle can be made.
    virtual std::unique_ptr<SyncHandle> duplicate();
    // Makes the open file's bytes and size durable.
    virtual bool sync();

    virtual bool fileExists(const std::string& path);
    virtual bool renameFile(const std::string& from, const std::string& to);
    virtual bool removeFile(const std::string& path);
    // Makes the files created and renamed in the path's folder durable.
    virtual bool syncFolderOf(const std::string& path);

private:
    Platform::RandomAccessFile file;
};

}  // namespace Corvex::Tracking
