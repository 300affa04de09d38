// The queue file: a 16-byte big-endian header and a ring of length-prefixed
// event texts. New bytes are written before the header that names them, and
// removed bytes are zeroed only after the header has let them go; whole files
// are built beside the path and renamed over it. So a process killed at any
// moment leaves the state before or after an operation.
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
        Corrupt,      // the header is not sound; the caller recreates the file
        Unavailable,  // the file exists but cannot be opened; left alone
    };
    OpenResult open();

    enum class ReadResult { Ok, Corrupt };
    // Calls onEntry with each entry's text, oldest first. Corrupt when an
    // entry's length is 0 or cannot fit in the ring, or a read fails.
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

    // True from an open that reached the file (Ready or Corrupt) until close.
    bool isOpen() const;
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
    bool growFor(int32_t length);
    // Starts the next read-back at the newest entry, whose bytes sum to sum.
    void checkFromLast(uint64_t sum);

    std::array<char, 4096> scratch{};
    // One entry as written: its length field, then its text.
    std::string entryBuffer;
    std::unique_ptr<QueueFileLayer> file;
    std::string path;
    std::string temporaryPath;
    State state = State::Closed;
    int64_t ringLength = 0;
    int32_t entryCount = 0;
    EntryRef first;
    EntryRef last;
    // The ring from checkFrom to the newest entry's end, summed byte by byte:
    // the newest entry at the last check and every entry appended since. A
    // hole left by a cut reads as zeros, which lowers the sum.
    int64_t checkFrom = 0;  // 0: nothing to read back
    uint64_t checkSum = 0;
    int32_t checkedEntries = 0;  // entries from checkFrom on
};

}  // namespace Corvex::Tracking
