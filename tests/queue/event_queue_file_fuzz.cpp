// Loads arbitrary bytes as a queue file (raw, or a sound file with a few bytes
// changed), then appends, removes, syncs and rewrites, checking after every
// step that a new reader finds exactly the texts the writer holds.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "event_queue_file_test_util.h"
#include "queue/event_queue_file.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// In memory where the system offers it: on a disk the file system flushes
// files that are cut short or replaced by rename, which slows the fuzzer more
// than tenfold.
std::filesystem::path folder() {
    const std::filesystem::path shared = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(shared) ? shared : std::filesystem::temp_directory_path();
    return base / ("corvex_queue_file_fuzz_" + std::to_string(::getpid()));
}

const std::string& queuePath() {
    static const std::string path = [] {
        std::filesystem::create_directories(folder());
        std::atexit([] { std::filesystem::remove_all(folder()); });
        return (folder() / ".event_queue").string();
    }();
    return path;
}

std::string makeText(FuzzedDataProvider& in, uint32_t serial) {
    const size_t size = in.ConsumeIntegralInRange<size_t>(1, in.ConsumeBool() ? 64 : 9000);
    std::string text(size, static_cast<char>('a' + serial % 26));
    const std::string tag = std::to_string(serial);
    text.replace(0, std::min(tag.size(), size), tag, 0, std::min(tag.size(), size));
    return text;
}

// A file the writer made itself, with up to four bytes changed afterwards.
void writeChangedSoundFile(FuzzedDataProvider& in, const std::string& path) {
    std::filesystem::remove(path);
    {
        EventQueueFile writer(path);
        check(writer.open() == EventQueueFile::OpenResult::Ready);
        const int steps = in.ConsumeIntegralInRange(0, 24);
        for (int i = 0; i < steps; ++i) {
            if (in.ConsumeIntegralInRange(0, 3) == 0) {
                check(writer.removeFirst(in.ConsumeIntegralInRange(1, 3)));
            } else {
                const std::string text = makeText(in, static_cast<uint32_t>(i));
                check(writer.append(text.data(), static_cast<int32_t>(text.size())));
            }
        }
    }
    std::string image = readBytes(path);
    const int changes = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < changes && !image.empty(); ++i) {
        const auto offset = in.ConsumeIntegralInRange<size_t>(0, image.size() - 1);
        image[offset] = static_cast<char>(in.ConsumeIntegral<uint8_t>());
    }
    writeBytes(path, image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string& path = queuePath();
    if (in.ConsumeBool()) {
        writeBytes(path, in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(0, 20000)));
    } else {
        writeChangedSoundFile(in, path);
    }

    EventQueueFile file(path);
    std::deque<std::string> expected;
    const auto collect = [&](std::string&& text) { expected.push_back(std::move(text)); };
    const EventQueueFile::OpenResult opened = file.open();
    if (opened == EventQueueFile::OpenResult::Ready) {
        check(file.readEntries(collect) == EventQueueFile::ReadResult::Ok);
    } else if (opened == EventQueueFile::OpenResult::Damaged) {
        // The sound start of a broken chain is read, then written anew.
        check(file.readEntries(collect) == EventQueueFile::ReadResult::Ok);
        check(!file.append("x", 1));
        check(file.rewrite(std::vector<std::string_view>(expected.begin(), expected.end())));
    } else {
        check(opened == EventQueueFile::OpenResult::Corrupt);
        check(file.readEntries(collect) == EventQueueFile::ReadResult::Corrupt);
        check(!file.append("x", 1));
        check(file.recreate());
    }

    const auto verify = [&] {
        const auto loaded = loadTexts(path);
        check(loaded && loaded->size() == expected.size() &&
              std::equal(expected.begin(), expected.end(), loaded->begin()));
        check(file.elementCount() == static_cast<int32_t>(expected.size()));
    };
    verify();
    for (uint32_t serial = 0; serial < 48 && in.remaining_bytes() > 0; ++serial) {
        const int choice = in.ConsumeIntegralInRange(0, 10);
        if (choice == 10) {
            check(file.sync());
        } else if (choice < 6) {
            const std::string text = makeText(in, serial);
            check(file.append(text.data(), static_cast<int32_t>(text.size())));
            expected.push_back(text);
        } else if (choice < 9) {
            const auto count =
                in.ConsumeIntegralInRange<int32_t>(0, static_cast<int32_t>(expected.size()) + 1);
            check(file.removeFirst(count));
            expected.erase(expected.begin(),
                           expected.begin() + std::min<size_t>(count, expected.size()));
        } else {
            check(file.rewrite(std::vector<std::string_view>(expected.begin(), expected.end())));
        }
        verify();
    }
    return 0;
}
