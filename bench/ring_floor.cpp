#include "ring_floor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace Corvex::Tracking::Bench {

namespace {
constexpr int FLAGS = O_RDWR | O_CREAT | O_CLOEXEC;
}  // namespace

RingFloor::RingFloor(const std::string& folder, const std::string& text, bool freshFile,
                     int roundCalls)
    : path(folder + "/ring"), newPath(folder + "/ring.new"), entry(4, '\0'), freshFile(freshFile) {
    for (int i = 0; i < 4; ++i) entry[i] = static_cast<char>(text.size() >> (24 - 8 * i));
    entry += text;
    fd = ::open(path.c_str(), FLAGS, 0600);
    failed = fd < 0;
    for (int i = 0; i < roundCalls && !failed; ++i) call();
    rewind();
}

RingFloor::~RingFloor() {
    if (fd >= 0) ::close(fd);
}

void RingFloor::call() {
    failed |= ::pwrite(fd, entry.data(), entry.size(), static_cast<off_t>(tail)) !=
              static_cast<ssize_t>(entry.size());
    tail += static_cast<int64_t>(entry.size());
    ++count;
    std::memcpy(header + 4, &count, sizeof count);
    failed |= ::pwrite(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header);
}

void RingFloor::rewind() {
    tail = 16;
    count = 0;
    if (!freshFile) return;
    const int fresh = ::open(newPath.c_str(), FLAGS | O_TRUNC, 0600);
    const std::string block(4096, '\0');
    failed |= fresh < 0 || ::pwrite(fresh, block.data(), block.size(), 0) != 4096 ||
              std::rename(newPath.c_str(), path.c_str()) != 0;
    if (fd >= 0) ::close(fd);
    fd = fresh;
}

}  // namespace Corvex::Tracking::Bench
