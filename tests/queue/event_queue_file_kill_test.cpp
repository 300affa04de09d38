#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "event_queue_file_test_util.h"
#include "queue/event_queue_file.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;

namespace {

// Progress of the child, in memory shared with the parent. The entries
// [oldest, next) are in the file; an operation under way has moved one of the
// targets first, so the file may also hold [oldestTarget, next) during a
// removal or [oldest, nextTarget) during an append.
struct Progress {
    std::atomic<int64_t> oldest;
    std::atomic<int64_t> oldestTarget;
    std::atomic<int64_t> next;
    std::atomic<int64_t> nextTarget;
};

// The text of entry number n: mostly small, some large enough to grow the
// ring and to wrap it.
std::string entryText(int64_t n) {
    std::mt19937 random(static_cast<uint32_t>(n));
    const uint32_t kind = random() % 100;
    const size_t size = kind < 70   ? 8 + random() % 200
                        : kind < 95 ? 200 + random() % 1800
                                    : 2000 + random() % 10000;
    std::string text = "#" + std::to_string(n) + ":";
    text.resize(std::max(size, text.size()), static_cast<char>('a' + n % 26));
    return text;
}

int64_t entryNumber(const std::string& text) {
    return text.size() > 1 && text[0] == '#' ? std::stoll(text.substr(1)) : -1;
}

// Appends, removes and now and then rewrites until it is killed. Exits with a
// code above 0 when an operation fails.
[[noreturn]] void runChild(const std::string& path, Progress& progress, uint32_t seed) {
    EventQueueFile file(path);
    if (file.open() != EventQueueFile::OpenResult::Ready) _exit(3);
    std::mt19937 random(seed);
    int64_t oldest = progress.oldest;
    int64_t next = progress.next;
    for (;;) {
        // The queue wanders between 20 and 80 entries, so the data goes round
        // the ring and wraps; now and then it is emptied or rewritten.
        const int64_t count = next - oldest;
        const uint32_t choice = random() % 2000;
        if (choice == 0) {
            progress.oldestTarget = next;
            if (!file.removeFirst(static_cast<int32_t>(count))) _exit(5);
            progress.oldest = oldest = next;
        } else if (count < 20 || (choice < 1200 && count < 80)) {
            const std::string text = entryText(next);
            progress.nextTarget = next + 1;
            if (!file.append(text.data(), static_cast<int32_t>(text.size()))) _exit(4);
            progress.next = ++next;
        } else if (choice < 1996) {
            const int64_t removed = 1 + random() % 2;
            progress.oldestTarget = oldest + removed;
            if (!file.removeFirst(static_cast<int32_t>(removed))) _exit(5);
            oldest += removed;
            progress.oldest = oldest;
        } else {
            std::vector<std::string> texts;
            for (int64_t n = oldest; n < next; ++n) texts.push_back(entryText(n));
            if (!file.rewrite(std::vector<std::string_view>(texts.begin(), texts.end()))) {
                _exit(6);
            }
        }
    }
}

}  // namespace

TEST(EventQueueFileKill, EveryKilledWriterLeavesAContiguousRunOfItsEntries) {
    TempFolder folder("kill", TempFolder::Create::Now);
    const std::string path = folder.file(".event_queue");
    void* shared = ::mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* progress = new (shared) Progress{};

    std::mt19937 random(20240611);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int kills = 0;
    int64_t entriesChecked = 0;
    int64_t longestQueue = 0;
    int grownRings = 0;
    int midOperation = 0;
    int midOperationAfter = 0;
    int wrappedRings = 0;
    while (kills < 1500 && std::chrono::steady_clock::now() < deadline) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) runChild(path, *progress, static_cast<uint32_t>(random()));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the writer stopped by itself with code " << WEXITSTATUS(status);
        ++kills;

        const auto texts = loadTexts(path);
        ASSERT_TRUE(texts.has_value()) << "after kill " << kills;
        const int64_t oldest = progress->oldest, next = progress->next;
        const int64_t oldestTarget = progress->oldestTarget, nextTarget = progress->nextTarget;
        int64_t first = texts->empty() ? -1 : entryNumber(texts->front());
        for (size_t i = 0; i < texts->size(); ++i) {
            ASSERT_EQ((*texts)[i], entryText(first + static_cast<int64_t>(i)))
                << "after kill " << kills << ", entry " << i;
        }
        const auto count = static_cast<int64_t>(texts->size());
        // An empty file stands for whichever of the allowed states is empty.
        if (count == 0) first = oldest == next ? oldest : oldestTarget;
        const int64_t end = first + count;
        const bool before = first == oldest && end == next;
        const bool after =
            (first == oldestTarget && end == next) || (first == oldest && end == nextTarget);
        ASSERT_TRUE(before || after)
            << "after kill " << kills << ": holds [" << first << ", " << end << ") with oldest "
            << oldest << "/" << oldestTarget << " and next " << next << "/" << nextTarget;
        if (oldestTarget != oldest || nextTarget != next) {
            ++midOperation;
            midOperationAfter += !before;
        }
        const std::string header = readBytes(path).substr(0, 16);
        grownRings += getInt(header, 0) > 4096;
        wrappedRings += getInt(header, 12) < getInt(header, 8);
        entriesChecked += count;
        longestQueue = std::max(longestQueue, count);
        // The next writer goes on from what the file holds.
        progress->oldest = progress->oldestTarget = first;
        progress->next = progress->nextTarget = end;
    }
    EXPECT_GE(kills, 100);
    std::printf(
        "[ kill test ] %d kills, %d files loaded (%d with a grown ring, %d wrapped), "
        "%d kills during an append or removal (%d found done), %lld entries checked, "
        "longest queue %lld, last entry number %lld\n",
        kills, kills, grownRings, wrappedRings, midOperation, midOperationAfter,
        static_cast<long long>(entriesChecked), static_cast<long long>(longestQueue),
        static_cast<long long>(progress->next.load()));
    progress->~Progress();
    ::munmap(shared, sizeof(Progress));
}
