// The queue file: a 16-byte big-endian header and a ring of length-prefixed
// event texts. New bytes are written before the header that names them, and
// whole files are built beside the path, synced, and renamed over it. So a
// process killed at any moment leaves the state before or after an operation.
//
// A power cut is harder: the disk writes the pages of the last second in any
// order and may tear them. Three rules keep every synced event loadable and
// keep torn entries from loading as events:
// - bytes a header names are never changed until a newer header that lets
//   them go is synced: removed entries are zeroed only after the sync that
//   follows their removal, and a growth that moves entries syncs the copy
//   before its header;
// - an entry is only ever written over bytes whose zeros are synced, so a
//   torn entry reads as zeros somewhere: a NUL in its text (which no event
//   text holds) or a length of 0 that ends the chain;
// - the loader keeps the sound entries before the first it cannot follow.
// Retired bytes therefore pass through two syncs (released, then zeroed)
// before appends may reuse them; the ring grows when it must meanwhile.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "queue/queue_file_layer.h"

namespace Corvex::Tracking {

class EventQueueFile {
public:
    static constexpr int32_t HEADER_LENGTH = 16;
    static constexpr int32_t INITIAL_LENGTH = 4096;

    explicit EventQueueFile(std::string path);
    // Does its file operations through the given layer (tests make it fail).
    EventQueueFile(std::string path, std::unique_ptr<QueueFileLayer> layer);
    ~EventQueueFile();
    EventQueueFile(const EventQueueFile&) = delete;
    EventQueueFile& operator=(const EventQueueFile&) = delete;

    enum class OpenResult {
        Ready,        // opened (a missing file is created and formatted)
        Damaged,      // the chain of entries breaks off: readEntries gives the
                      // sound ones before the break, then the caller rewrites
        Corrupt,      // the header is not sound; the caller recreates the file
        Unavailable,  // the file exists but cannot be opened; left alone
    };
    // A Ready file's free bytes are synced as zeros before it returns (one
    // sync, two when a crash left retired bytes unzeroed).
    OpenResult open();

    enum class ReadResult { Ok, Corrupt };
    // Calls onEntry with each text of the sound chain, oldest first (after
    // open gave Ready or Damaged). Corrupt when a read fails.
    ReadResult readEntries(const std::function<void(std::string&& text)>& onEntry);

    // Each returns false when a file operation failed; the file then still
    // reads as the state before or after the operation. After a failure,
    // append and removeFirst do nothing and return false until rewrite or
    // recreate succeeds: the object no longer knows what the file holds.
    bool append(const char* data, int32_t length);
    bool removeFirst(int32_t count);
    // Writes a new file holding exactly these texts beside the path and
    // renames it over the file, then continues on the new file. Works after
    // a failed operation and after open found the file corrupt, but not
    // after close or an open that found the file unavailable.
    bool rewrite(const std::vector<std::string_view>& texts);
    // Replaces the file with a fresh 4096-byte one, as rewrite does.
    bool recreate();
    void close();

    // A sync in three steps, so that the owner's lock is not held while the
    // disk works: beginSync under the lock, handle->sync() outside it, then
    // finishSync under the lock. The sync makes durable what was written
    // before beginSync; finishSync then frees the retired bytes whose zeros
    // it made durable, zeroes those whose release it made durable (which
    // calls for another sync), and cuts an empty ring back to 4096 bytes.
    struct PendingSync {
        std::unique_ptr<QueueFileLayer::SyncHandle> handle;  // null: nothing to do
        uint64_t layout = 0;   // changes with every move of the ring's bytes
        int64_t zeroed = 0;    // bytes zeroed before the sync
        int64_t released = 0;  // bytes released by a header before the sync
    };
    // True when bytes were written since the last sync began.
    bool needsSync() const;
    PendingSync beginSync();
    // `synced`: whether handle->sync() succeeded. False when a write failed.
    bool finishSync(const PendingSync& pending, bool synced);
    // The three steps at once, for a caller that holds its lock throughout.
    bool sync();

    // True from an open that reached the file (Ready or Corrupt) until close.
    bool isOpen() const;
    // True while appends and removals work: no operation failed since the
    // last successful open or rewrite.
    bool isReady() const;
    // False unless the file is Ready, still has a name (the open file, not
    // whatever now bears its path), reaches as far as the entries do, and
    // reads back unchanged from the newest entry at the previous check on
    // (a cut that later appends extended again reads as zeros there).
    // Another program may delete the file or cut it short while it is open;
    // appending to it then would leave a file that loads without the entries
    // before, so the owner rewrites it.
    bool matchesDisk();
    int32_t elementCount() const;
    int32_t fileLength() const;
    const std::string& filePath() const;

private:
    // An entry's position in the file and the length stored in front of it.
    struct EntryRef {
        int64_t position = 0;
        int32_t length = 0;
    };
    enum class State {
        Closed,  // no file: before open, after close, or unavailable
        Ready,   // the members mirror the header
        Failed,  // an operation failed or the file is corrupt: only a rewrite helps
    };

    class PieceReader;

    bool fail();
    bool loadHeader();
    // Makes the bytes outside the entries of a file just opened free: they
    // are zeroed where a crash left anything else, and synced.
    bool reclaimOutsideEntries();
    bool writeFresh(const std::vector<std::string_view>& texts);
    bool writeHeader(int64_t length, int32_t count, int64_t firstPosition, int64_t lastPosition);
    bool writeLength(int64_t position, int32_t length);
    // Ring-wise transfers: the start is wrapped, and a piece that runs past
    // the ring's end continues at offset 16.
    bool readRing(int64_t position, void* buffer, int64_t n);
    bool writeRing(int64_t position, const void* buffer, int64_t n);
    bool zeroRing(int64_t position, int64_t n);
    int64_t wrap(int64_t position) const;
    int64_t usedBytes() const;
    int64_t liveBytes() const;
    int64_t freeBytes() const;
    // Makes room for an entry of the given length, growing the ring if need
    // be. Sets `syncBeforeHeader` when it moved entries: the header that
    // commits the new length must wait for the copy to be durable.
    bool growFor(int32_t length, bool& syncBeforeHeader);
    // Starts the next read-back at the newest entry, whose bytes sum to sum.
    void checkFromLast(uint64_t sum);

    std::array<char, 4096> scratch{};
    // One entry as written: its length field, then its text.
    std::string entryBuffer;
    std::unique_ptr<QueueFileLayer> file;
    std::string path;
    std::string temporaryPath;
    State state = State::Closed;
    // Open found the chain broken: the members name its sound part, which
    // readEntries gives, and only a rewrite makes the file usable again.
    bool damaged = false;
    int64_t ringLength = 0;
    int32_t entryCount = 0;
    EntryRef first;
    EntryRef last;
    // Where the next entry goes: the end of the newest one, also once the
    // ring is empty.
    int64_t tail = 0;
    // The ring, from the oldest entry on, holds the entries up to the tail,
    // then free bytes (synced zeros), then retired bytes on their way back:
    // `zeroedBytes` from reclaimFrom on, zeroed but not yet synced, then
    // `releasedBytes`, let go by a header not yet synced, up to the oldest
    // entry (or the tail when there is none).
    int64_t reclaimFrom = 0;
    int64_t zeroedBytes = 0;
    int64_t releasedBytes = 0;
    uint64_t layout = 0;
    bool dirty = false;  // written since the last sync began
    // The ring from checkFrom to the newest entry's end, summed byte by byte:
    // the newest entry at the last check and every entry appended since. A
    // hole left by a cut reads as zeros, which lowers the sum.
    int64_t checkFrom = 0;  // 0: nothing to read back
    uint64_t checkSum = 0;
    int32_t checkedEntries = 0;  // entries from checkFrom on
};

}  // namespace Corvex::Tracking
