// A simulated disk for power-cut tests of the queue file: it keeps files in
// memory and lists the images a power cut may leave behind.
//
// Files are inodes and one folder maps names to them. Each inode holds its
// bytes and size as of its last completed sync, and the writes and size
// changes made since, in order. A crash keeps, for each 512-byte sector
// changed since the last sync, any one of the versions the sector had since
// (a page can tear), chosen independently per sector; the size is any size
// the file had since; ranges never written read as zeros. The names are the
// durable ones (as of the last folder sync) or the current ones.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "queue/queue_file_layer.h"

namespace Corvex::Tracking::Testing {

class CrashDisk : public QueueFileLayer {
public:
    static constexpr int64_t SECTOR = 512;

    // What a crash leaves at one path.
    struct Image {
        bool exists = false;
        std::string bytes;
    };
    // Visits one crash image: `key` identifies its content (equal images,
    // equal keys; 0 for no file), `build` makes it and `describe` tells how
    // it was chosen. Returns false to stop the enumeration.
    using ImageVisitor = std::function<bool(uint64_t key, const std::function<Image()>& build,
                                            const std::function<std::string()>& describe)>;

    CrashDisk();
    // A disk holding only the image at the path, every byte and name durable.
    CrashDisk(const std::string& path, const Image& image);
    ~CrashDisk() override;

    // Called after every operation that changes the disk or makes something
    // durable, with a description of it.
    void onChange(std::function<void(const std::string& what)> hook);

    // Visits the images a crash now may leave at the path, under the durable
    // names and, when they differ, the current ones: none of the unsynced
    // changes, all of them, all but each one sector, each prefix of the
    // sector writes in order, and `randomImages` independent choices drawn
    // from the seed.
    void forEachCrashImage(const std::string& path, uint64_t seed, int randomImages,
                           const ImageVisitor& visit) const;
    // The changes made since the last sync of the file at the path (current
    // names), one line each, numbered as the image descriptions name them.
    std::string pendingChanges(const std::string& path) const;

    bool open(const std::string& path, bool create) override;
    bool readAt(int64_t offset, void* buffer, size_t n) override;
    bool writeAt(int64_t offset, const void* buffer, size_t n) override;
    int64_t size() override;
    int64_t namedSize() override;
    bool truncate(int64_t size) override;
    void close() override;
    std::unique_ptr<SyncHandle> duplicate() override;
    bool sync() override;
    bool fileExists(const std::string& path) override;
    bool renameFile(const std::string& from, const std::string& to) override;
    bool removeFile(const std::string& path) override;
    bool syncFolderOf(const std::string& path) override;

private:
    struct Change;
    struct Inode;
    struct Folder;
    class Handle;

    void visitImages(const std::shared_ptr<Inode>& inode, const char* names, uint64_t seed,
                     int randomImages, const ImageVisitor& visit, bool& going) const;

    std::shared_ptr<Folder> folder;
    std::shared_ptr<Inode> openFile;
};

}  // namespace Corvex::Tracking::Testing
