#include "queue/queue_file_layer.h"

namespace Corvex::Tracking {

namespace {

class PlatformSyncHandle : public QueueFileLayer::SyncHandle {
public:
    Platform::RandomAccessFile copy;
    bool sync() override { return copy.sync(); }
};

}  // namespace

bool QueueFileLayer::open(const std::string& path, bool create) {
    return file.open(path, create);
}

bool QueueFileLayer::readAt(int64_t offset, void* buffer, size_t n) {
    return file.readAt(offset, buffer, n);
}

bool QueueFileLayer::writeAt(int64_t offset, const void* buffer, size_t n) {
    return file.writeAt(offset, buffer, n);
}

int64_t QueueFileLayer::size() {
    return file.size();
}

int64_t QueueFileLayer::namedSize() {
    return file.namedSize();
}

bool QueueFileLayer::truncate(int64_t size) {
    return file.truncate(size);
}

void QueueFileLayer::close() {
    file.close();
}

std::unique_ptr<QueueFileLayer::SyncHandle> QueueFileLayer::duplicate() {
    auto handle = std::make_unique<PlatformSyncHandle>();
    if (!file.duplicateInto(handle->copy)) return nullptr;
    return handle;
}

bool QueueFileLayer::sync() {
    return file.sync();
}

bool QueueFileLayer::fileExists(const std::string& path) {
    return Platform::fileExists(path);
}

bool QueueFileLayer::renameFile(const std::string& from, const std::string& to) {
    return Platform::renameFile(from, to);
}

bool QueueFileLayer::removeFile(const std::string& path) {
    return Platform::removeFile(path);
}

bool QueueFileLayer::syncFolderOf(const std::string& path) {
    return Platform::syncFolderOf(path);
}

}  // namespace Corvex::Tracking
