#include "queue/queue_file_layer.h"

namespace Corvex::Tracking {

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

bool QueueFileLayer::fileExists(const std::string& path) {
    return Platform::fileExists(path);
}

bool QueueFileLayer::renameFile(const std::string& from, const std::string& to) {
    return Platform::renameFile(from, to);
}

bool QueueFileLayer::removeFile(const std::string& path) {
    return Platform::removeFile(path);
}

}  // namespace Corvex::Tracking
