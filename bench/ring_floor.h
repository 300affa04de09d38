// The floor of an accepted event in the queue file's format: the entry with
// its big-endian length at the tail, then the 16-byte header at offset 0 that
// commits it, as two pwrite() calls. Either over blocks the file already has,
// as in a ring that has grown, or on a file made anew before each round
// (written beside and renamed over), as the queue's is when a delivered batch
// empties it: the Track benchmark's rounds start so.
#pragma once

#include <cstdint>
#include <string>

namespace Corvex::Tracking::Bench {

class RingFloor {
public:
    // Opens the ring in the folder; over written blocks, it first writes one
    // round's entries, untimed.
    RingFloor(const std::string& folder, const std::string& text, bool freshFile, int roundCalls);
    ~RingFloor();
    RingFloor(const RingFloor&) = delete;
    RingFloor& operator=(const RingFloor&) = delete;

    // One event's two writes.
    void call();
    // Between rounds: back to an empty ring, on a new file when fresh.
    void rewind();
    // False once the file could not be opened or a write fell short.
    bool ok() const { return !failed; }

private:
    std::string path;
    std::string newPath;
    std::string entry;
    char header[16] = {};
    bool freshFile;
    int fd = -1;
    int64_t tail = 16;
    int32_t count = 0;
    bool failed = false;
};

}  // namespace Corvex::Tracking::Bench
