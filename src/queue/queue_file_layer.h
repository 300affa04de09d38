// The file operations of the queue file, on one open file at a time. This
// class passes them straight to the platform; tests derive from it to make a
// chosen operation fail.
#pragma once

#include <cstddef>
#include <cstdint>
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

    virtual bool fileExists(const std::string& path);
    virtual bool renameFile(const std::string& from, const std::string& to);
    virtual bool removeFile(const std::string& path);

private:
    Platform::RandomAccessFile file;
};

}  // namespace Corvex::Tracking
