// The queue file: a 16-byte big-endian header and a ring of length-prefixed
// event texts. Every operation writes its data first and the header last, so
// a process killed at any moment leaves the state before or after it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Corvex::Tracking {

class EventQueueFile {
public:
    static constexpr int32_t HEADER_LENGTH = 16;
    static constexpr int32_t INITIAL_LENGTH = 4096;

    explicit EventQueueFile(std::string path);
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
    // reads as the state before or after the operation.
    bool append(const char* data, int32_t length);
    bool removeFirst(int32_t count);
    // Writes a new file holding exactly these texts beside the path and
    // renames it over the file, then continues on the new file.
    bool rewrite(const std::vector<std::string_view>& texts);
    // Deletes the file and creates a fresh 4096-byte one.
    bool recreate();
    void close();

    bool isOpen() const;
    int32_t elementCount() const;
    int32_t fileLength() const;
    const std::string& filePath() const;

private:
    // (fields: the implementer's choice)
};

}  // namespace Corvex::Tracking
