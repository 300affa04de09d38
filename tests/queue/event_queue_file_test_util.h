// Helpers shared by the queue file's tests: raw file images and the ring
// states they make (temporary folders and loading a file come from support/).
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "queue/event_queue_file.h"
#include "support/save_folder.h"
#include "support/temp_folder.h"

namespace Corvex::Tracking::Testing {

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void putInt(std::string& image, size_t offset, int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<char>(v >> (24 - 8 * i));
}

inline int64_t getInt(const std::string& image, size_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(image[offset + i]);
    return static_cast<int32_t>(v);
}

inline void putHeader(std::string& image, int64_t length, int64_t count, int64_t first,
                      int64_t last) {
    putInt(image, 0, length);
    putInt(image, 4, count);
    putInt(image, 8, first);
    putInt(image, 12, last);
}

// Writes the bytes into a ring of the given length starting at a position,
// continuing at offset 16 past the ring's end.
inline void putRing(std::string& image, int64_t ringLength, int64_t position,
                    const std::string& bytes) {
    for (char c : bytes) {
        if (position >= ringLength) position = position - ringLength + 16;
        image[static_cast<size_t>(position++)] = c;
    }
}

// A whole entry, length field and text, for putRing.
inline std::string entryBytes(const std::string& text) {
    std::string bytes(4, '\0');
    putInt(bytes, 0, static_cast<int64_t>(text.size()));
    return bytes + text;
}

// Runs the two syncs after which retired bytes are free again: the first
// makes their release durable and zeroes them, the second makes the zeros
// durable.
inline bool settle(EventQueueFile& file) {
    return file.sync() && file.sync();
}

// A 4096-byte ring holding SPLIT_B at 2020 and SPLIT_C at 4094: SPLIT_C's
// length field is split across the ring's end and its data lies at offset 18.
inline const std::string SPLIT_B(2070, 'b');
inline const std::string SPLIT_C(10, 'c');
inline bool makeSplitState(EventQueueFile& file) {
    const std::string a(2000, 'a');
    return file.append(a.data(), 2000) && file.append(SPLIT_B.data(), 2070) &&
           file.removeFirst(1) && settle(file) && file.append(SPLIT_C.data(), 10);
}

inline std::string freshImage() {
    std::string image(4096, '\0');
    putHeader(image, 4096, 0, 0, 0);
    return image;
}

}  // namespace Corvex::Tracking::Testing
