#include "crash_disk.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string_view>
#include <utility>

namespace Corvex::Tracking::Testing {

namespace {

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EB;
    return x ^ (x >> 31);
}

uint64_t hashBytes(const char* data, size_t n) {
    return std::hash<std::string_view>()(std::string_view(data, n));
}

// The sector of the content, zero-filled past its end.
std::string sectorOf(const std::string& content, int64_t sector) {
    std::string bytes(static_cast<size_t>(CrashDisk::SECTOR), '\0');
    const int64_t from = sector * CrashDisk::SECTOR;
    if (from < static_cast<int64_t>(content.size())) {
        const auto n =
            std::min<int64_t>(CrashDisk::SECTOR, static_cast<int64_t>(content.size()) - from);
        std::memcpy(bytes.data(), content.data() + from, static_cast<size_t>(n));
    }
    return bytes;
}

int64_t sectorsIn(int64_t size) {
    return (size + CrashDisk::SECTOR - 1) / CrashDisk::SECTOR;
}

}  // namespace

// A write (offset >= 0) or a size change (offset -1), and the file's size
// after it.
struct CrashDisk::Change {
    int64_t offset = -1;
    std::string bytes;
    int64_t sizeAfter = 0;

    void applyTo(std::string& content) const {
        if (offset < 0) {
            content.resize(static_cast<size_t>(sizeAfter));
            return;
        }
        const auto end = static_cast<size_t>(offset) + bytes.size();
        if (content.size() < end) content.resize(end);
        std::memcpy(content.data() + offset, bytes.data(), bytes.size());
    }
};

struct CrashDisk::Inode {
    std::string durable;          // bytes and size at the last completed sync
    std::vector<Change> changes;  // made since, oldest first
    std::string current;          // what reads give
    uint64_t made = 0;            // changes ever made
    uint64_t durableMade = 0;     // of them, those in `durable`

    void change(Change c) {
        c.applyTo(current);
        c.sizeAfter = static_cast<int64_t>(current.size());
        changes.push_back(std::move(c));
        ++made;
    }
    // Makes the first `count` changes ever made durable.
    void syncThrough(uint64_t count) {
        if (count <= durableMade) return;
        const auto n = static_cast<size_t>(count - durableMade);
        for (size_t i = 0; i < n; ++i) changes[i].applyTo(durable);
        changes.erase(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(n));
        durableMade = count;
    }
};

struct CrashDisk::Folder {
    std::map<std::string, std::shared_ptr<Inode>> names;
    std::map<std::string, std::shared_ptr<Inode>> durableNames;
    std::function<void(const std::string&)> hook;

    void changed(const std::string& what) const {
        if (hook) hook(what);
    }
    std::string nameOf(const std::shared_ptr<Inode>& inode) const {
        for (const auto& [name, named] : names) {
            if (named == inode) return name;
        }
        return "an unnamed file";
    }
};

// A duplicated descriptor: its sync covers the changes made before it was.
class CrashDisk::Handle : public QueueFileLayer::SyncHandle {
public:
    Handle(std::shared_ptr<Folder> folder, std::shared_ptr<Inode> inode)
        : folder(std::move(folder)), inode(std::move(inode)), mark(this->inode->made) {}

    bool sync() override {
        inode->syncThrough(mark);
        folder->changed("sync of a duplicate of " + folder->nameOf(inode) + " (changes up to " +
                        std::to_string(mark) + ")");
        return true;
    }

private:
    std::shared_ptr<Folder> folder;
    std::shared_ptr<Inode> inode;
    uint64_t mark;
};

CrashDisk::CrashDisk() : folder(std::make_shared<Folder>()) {}

CrashDisk::CrashDisk(const std::string& path, const Image& image) : CrashDisk() {
    if (!image.exists) return;
    auto inode = std::make_shared<Inode>();
    inode->durable = image.bytes;
    inode->current = image.bytes;
    folder->names[path] = inode;
    folder->durableNames[path] = inode;
}

CrashDisk::~CrashDisk() = default;

void CrashDisk::onChange(std::function<void(const std::string& what)> hook) {
    folder->hook = std::move(hook);
}

bool CrashDisk::open(const std::string& path, bool create) {
    openFile.reset();
    const auto named = folder->names.find(path);
    if (named != folder->names.end()) {
        openFile = named->second;
        return true;
    }
    if (!create) return false;
    openFile = std::make_shared<Inode>();
    folder->names[path] = openFile;
    folder->changed("create " + path);
    return true;
}

bool CrashDisk::readAt(int64_t offset, void* buffer, size_t n) {
    if (!openFile || offset < 0 || static_cast<size_t>(offset) + n > openFile->current.size()) {
        return false;
    }
    std::memcpy(buffer, openFile->current.data() + offset, n);
    return true;
}

bool CrashDisk::writeAt(int64_t offset, const void* buffer, size_t n) {
    if (!openFile || offset < 0) return false;
    Change c;
    c.offset = offset;
    c.bytes.assign(static_cast<const char*>(buffer), n);
    openFile->change(std::move(c));
    folder->changed("write " + std::to_string(n) + " bytes at " + std::to_string(offset) + " of " +
                    folder->nameOf(openFile));
    return true;
}

int64_t CrashDisk::size() {
    return openFile ? static_cast<int64_t>(openFile->current.size()) : -1;
}

int64_t CrashDisk::namedSize() {
    for (const auto& [name, inode] : folder->names) {
        if (inode == openFile && openFile) return static_cast<int64_t>(openFile->current.size());
    }
    return -1;
}

bool CrashDisk::truncate(int64_t size) {
    if (!openFile || size < 0) return false;
    Change c;
    c.sizeAfter = size;
    openFile->change(std::move(c));
    folder->changed("set the size of " + folder->nameOf(openFile) + " to " + std::to_string(size));
    return true;
}

void CrashDisk::close() {
    openFile.reset();
}

std::unique_ptr<QueueFileLayer::SyncHandle> CrashDisk::duplicate() {
    if (!openFile) return nullptr;
    return std::make_unique<Handle>(folder, openFile);
}

bool CrashDisk::sync() {
    if (!openFile) return false;
    openFile->syncThrough(openFile->made);
    folder->changed("sync of " + folder->nameOf(openFile));
    return true;
}

bool CrashDisk::fileExists(const std::string& path) {
    return folder->names.count(path) != 0;
}

bool CrashDisk::renameFile(const std::string& from, const std::string& to) {
    const auto named = folder->names.find(from);
    if (named == folder->names.end()) return false;
    auto inode = named->second;
    folder->names.erase(named);
    folder->names[to] = std::move(inode);
    folder->changed("rename " + from + " to " + to);
    return true;
}

bool CrashDisk::removeFile(const std::string& path) {
    if (folder->names.erase(path) == 0) return false;
    folder->changed("remove " + path);
    return true;
}

bool CrashDisk::syncFolderOf(const std::string& /*path*/) {
    folder->durableNames = folder->names;
    folder->changed("sync of the folder");
    return true;
}

void CrashDisk::forEachCrashImage(const std::string& path, uint64_t seed, int randomImages,
                                  const ImageVisitor& visit) const {
    auto find = [&](const std::map<std::string, std::shared_ptr<Inode>>& names) {
        const auto named = names.find(path);
        return named == names.end() ? nullptr : named->second;
    };
    const std::shared_ptr<Inode> durable = find(folder->durableNames);
    const std::shared_ptr<Inode> current = find(folder->names);
    bool going = true;
    visitImages(durable, durable == current ? "durable and current names" : "durable names", seed,
                randomImages, visit, going);
    if (going && durable != current) {
        visitImages(current, "current names", mix(seed), randomImages, visit, going);
    }
}

// The sectors each change touched and each version they had since the last
// sync; an image picks a size and a version per sector.
void CrashDisk::visitImages(const std::shared_ptr<Inode>& inode, const char* names, uint64_t seed,
                            int randomImages, const ImageVisitor& visit, bool& going) const {
    if (!inode) {
        going = visit(
            0, [] { return Image{}; },
            [names] { return std::string("no file under the ") + names; });
        return;
    }
    const std::vector<Change>& changes = inode->changes;
    std::vector<int64_t> sizes{static_cast<int64_t>(inode->durable.size())};
    struct Sector {
        int64_t index = 0;
        std::vector<std::string> versions;  // [0]: the durable one
        std::vector<uint64_t> hashes;
        std::vector<size_t> madeBy;  // the change of each later version
    };
    std::vector<Sector> sectors;
    std::map<int64_t, size_t> slotOf;
    struct Step {
        size_t change;
        size_t slot;  // SIZE_MAX: a change of size only
        size_t version;
    };
    std::vector<Step> steps;

    std::string running = inode->durable;
    for (size_t k = 0; k < changes.size(); ++k) {
        const Change& c = changes[k];
        const auto before = static_cast<int64_t>(running.size());
        c.applyTo(running);
        sizes.push_back(c.sizeAfter);
        // Bytes past the size read as zeros before and after a growth, so
        // only written ranges and cuts change a sector.
        int64_t from = 0, to = 0;
        if (c.offset >= 0) {
            from = c.offset;
            to = c.offset + static_cast<int64_t>(c.bytes.size());
        } else if (c.sizeAfter < before) {
            from = c.sizeAfter;
            to = before;
        }
        if (from >= to) {
            steps.push_back({k, SIZE_MAX, 0});
            continue;
        }
        for (int64_t s = from / SECTOR; s < sectorsIn(to); ++s) {
            auto [slot, added] = slotOf.emplace(s, sectors.size());
            if (added) {
                Sector fresh;
                fresh.index = s;
                fresh.versions.push_back(sectorOf(inode->durable, s));
                sectors.push_back(std::move(fresh));
            }
            Sector& sector = sectors[slot->second];
            sector.versions.push_back(sectorOf(running, s));
            sector.madeBy.push_back(k);
            steps.push_back({k, slot->second, sector.versions.size() - 1});
        }
    }
    for (Sector& sector : sectors) {
        for (const std::string& version : sector.versions) {
            sector.hashes.push_back(hashBytes(version.data(), version.size()));
        }
    }
    const int64_t most = *std::max_element(sizes.begin(), sizes.end());
    std::vector<uint64_t> durableHashes;
    for (int64_t s = 0; s < sectorsIn(most); ++s) {
        const std::string bytes = sectorOf(inode->durable, s);
        durableHashes.push_back(hashBytes(bytes.data(), bytes.size()));
    }

    // An image: its size and the version of each changed sector.
    struct Pick {
        int64_t size = 0;
        std::vector<size_t> versions;
    };
    auto bytesOf = [&](const Pick& pick) {
        std::string bytes = inode->durable;
        bytes.resize(static_cast<size_t>(pick.size));
        for (size_t i = 0; i < sectors.size(); ++i) {
            const int64_t from = sectors[i].index * SECTOR;
            if (pick.versions[i] == 0 || from >= pick.size) continue;
            const std::string& version = sectors[i].versions[pick.versions[i]];
            const auto n = static_cast<size_t>(std::min(SECTOR, pick.size - from));
            std::memcpy(bytes.data() + from, version.data(), n);
        }
        return bytes;
    };
    std::vector<size_t> versionOf(static_cast<size_t>(sectorsIn(most)), SIZE_MAX);
    auto keyOf = [&](const Pick& pick) {
        for (size_t i = 0; i < sectors.size(); ++i) {
            versionOf[static_cast<size_t>(sectors[i].index)] = i;
        }
        uint64_t key = mix(static_cast<uint64_t>(pick.size));
        const int64_t n = sectorsIn(pick.size);
        for (int64_t s = 0; s < n; ++s) {
            const size_t slot = versionOf[static_cast<size_t>(s)];
            uint64_t h = 0;
            if ((s + 1) * SECTOR > pick.size) {
                // The last sector is cut at the size: hashed as cut.
                const std::string whole = slot == SIZE_MAX
                                              ? sectorOf(inode->durable, s)
                                              : sectors[slot].versions[pick.versions[slot]];
                h = hashBytes(whole.data(), static_cast<size_t>(pick.size - s * SECTOR));
            } else {
                h = slot == SIZE_MAX ? durableHashes[static_cast<size_t>(s)]
                                     : sectors[slot].hashes[pick.versions[slot]];
            }
            key = mix(key ^ h);
        }
        return key == 0 ? 1 : key;
    };
    auto describe = [&](const Pick& pick, const std::string& how) {
        std::string text = std::string(names) + ", " + how + ": size " + std::to_string(pick.size) +
                           ", sectors (after change #, or durable)";
        for (size_t i = 0; i < sectors.size(); ++i) {
            const size_t v = pick.versions[i];
            text += " " + std::to_string(sectors[i].index) + ":" +
                    (v == 0 ? "durable" : "#" + std::to_string(sectors[i].madeBy[v - 1]));
        }
        return text;
    };
    auto offer = [&](const Pick& pick, const std::function<std::string()>& how) {
        if (!going) return;
        going = visit(
            keyOf(pick),
            [&] {
                return Image{true, bytesOf(pick)};
            },
            [&] { return describe(pick, how()); });
    };

    Pick none{sizes.front(), std::vector<size_t>(sectors.size(), 0)};
    Pick all{sizes.back(), std::vector<size_t>(sectors.size(), 0)};
    for (size_t i = 0; i < sectors.size(); ++i) all.versions[i] = sectors[i].versions.size() - 1;
    offer(none, [] { return "none of the unsynced changes"; });
    if (changes.empty()) return;
    offer(all, [] { return "all unsynced changes"; });
    for (size_t i = 0; i < sectors.size(); ++i) {
        if (sectors[i].index * SECTOR >= all.size) continue;
        Pick one = all;
        one.versions[i] = 0;
        offer(one, [&] { return "all but sector " + std::to_string(sectors[i].index); });
    }
    Pick prefix = none;
    for (size_t j = 0; j + 1 < steps.size(); ++j) {
        const Step& step = steps[j];
        prefix.size = sizes[step.change + 1];
        if (step.slot != SIZE_MAX) prefix.versions[step.slot] = step.version;
        offer(prefix, [&] {
            return "the first " + std::to_string(j + 1) + " of " + std::to_string(steps.size()) +
                   " sector writes";
        });
    }
    std::mt19937_64 random(seed);
    for (int r = 0; r < randomImages; ++r) {
        Pick pick;
        pick.size = sizes[random() % sizes.size()];
        for (const Sector& sector : sectors)
            pick.versions.push_back(random() % sector.versions.size());
        offer(pick, [&] { return "random choice " + std::to_string(r); });
    }
}

std::string CrashDisk::pendingChanges(const std::string& path) const {
    auto describe = [&](const char* names, const std::shared_ptr<Inode>& inode) {
        std::string text = std::string("under the ") + names + ": ";
        if (!inode) return text + "no file\n";
        text += "durable size " + std::to_string(inode->durable.size()) + "\n";
        for (size_t k = 0; k < inode->changes.size(); ++k) {
            const Change& c = inode->changes[k];
            text += "#" + std::to_string(k) + ": ";
            if (c.offset < 0) {
                text += "size set to " + std::to_string(c.sizeAfter) + "\n";
                continue;
            }
            const int64_t end = c.offset + static_cast<int64_t>(c.bytes.size());
            text += "write " + std::to_string(c.bytes.size()) + " bytes at " +
                    std::to_string(c.offset) + " (sectors " + std::to_string(c.offset / SECTOR) +
                    "-" + std::to_string((end - 1) / SECTOR) + ")\n";
        }
        return text;
    };
    auto find = [&](const std::map<std::string, std::shared_ptr<Inode>>& names) {
        const auto named = names.find(path);
        return named == names.end() ? nullptr : named->second;
    };
    const std::shared_ptr<Inode> durable = find(folder->durableNames);
    const std::shared_ptr<Inode> current = find(folder->names);
    if (durable == current) return describe("durable and current names", durable);
    return describe("durable names", durable) + describe("current names", current);
}

}  // namespace Corvex::Tracking::Testing
