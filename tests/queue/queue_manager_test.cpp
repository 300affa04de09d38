// The queue in memory and in its file: refusals, loading saved files (sound,
// corrupt and partly unreadable ones), file failures and the folder lock.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <thread>

#include "queue_manager_fakes.h"

namespace fs = std::filesystem;
using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;

namespace {

std::vector<std::string> numberedIds(int from, int to) {
    std::vector<std::string> ids;
    for (int i = from; i < to; ++i) ids.push_back("e" + std::to_string(i));
    return ids;
}

}  // namespace

TEST(QueueManagerQueue, RefusesEventsBeyondTheCapAndUnserialisableOnes) {
    TempFolder folder("cap", TempFolder::Create::Now);
    ScriptedSender sender;
    {
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
        for (int i = 0; i < QueueManager::MAX_PENDING; ++i) {
            ASSERT_TRUE(enqueueNew(queue, "e" + std::to_string(i)));
        }
        EXPECT_FALSE(enqueueNew(queue, "over"));
        EXPECT_EQ(queue.pendingCount(), QueueManager::MAX_PENDING);

        queue.retireOldest(1);
        auto invalid = queue.acquireEvent();
        fillEvent(*invalid, "bad");
        invalid->eventName = "\xff\xfe";
        const TrackingEvent* refused = invalid.get();
        EXPECT_FALSE(queue.enqueue(std::move(invalid)));
        EXPECT_FALSE(queue.enqueue(nullptr));
        EXPECT_EQ(queue.pendingCount(), QueueManager::MAX_PENDING - 1);
        // The refused record went back to the pool.
        EXPECT_EQ(queue.acquireEvent().get(), refused);
    }
    EXPECT_EQ(savedIds(folder.file(".event_queue")), numberedIds(1, QueueManager::MAX_PENDING));
}

TEST(QueueManagerLoad, LoadsSavedEntriesOfAnyLengthInOrder) {
    TempFolder folder("reload", TempFolder::Create::Now);
    ScriptedSender sender;
    {
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
        EXPECT_TRUE(enqueueNew(queue, "small"));
        EXPECT_TRUE(enqueueNew(queue, "large", 20000));  // above any fixed read buffer
        EXPECT_TRUE(enqueueNew(queue, "last"));
    }
    QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
    ASSERT_EQ(queue.pendingCount(), 3);
    ASSERT_TRUE(queue.startWorker());
    ASSERT_TRUE(sender.waitForBatches(1));
    queue.stopWorker();
    ASSERT_EQ(sender.sent().size(), 1u);
    const auto batch = sender.sent()[0];
    EXPECT_EQ(batch.ids, (std::vector<std::string>{"small", "large", "last"}));
    EXPECT_EQ(batch.textLengths[1], 20000u);
}

TEST(QueueManagerLoad, KeepsTheNewestThousandOfALongFile) {
    TempFolder folder("long", TempFolder::Create::Now);
    std::vector<std::string> texts;
    for (int i = 0; i < 1500; ++i) texts.push_back(eventText("e" + std::to_string(i)));
    writeBytes(folder.file(".event_queue"), imageOf(texts, 4096 * 128));
    ScriptedSender sender;
    {
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
        EXPECT_EQ(queue.pendingCount(), 1000);
    }
    EXPECT_EQ(savedIds(folder.file(".event_queue")), numberedIds(500, 1500));
}

// Each image is unsound; loading must give an empty queue on a fresh file
// that takes new events, and nothing read before the fault survives.
// A chain that breaks off keeps the entries before the break (a power cut
// leaves the newest appends torn, never the old ones); only an unsound header
// loses the file.
TEST(QueueManagerLoad, KeepsTheSoundStartOfABrokenChainAndReplacesUnsoundHeaders) {
    const std::string good = eventText("good");
    const size_t second = 16 + 4 + good.size();
    const size_t third = second + 4 + good.size();
    struct Fault {
        const char* name;
        std::function<void(std::string&)> spoil;
        int kept;
    };
    const Fault faults[] = {
        {"zero-length third entry", [&](std::string& image) { putInt(image, third, 0); }, 2},
        {"length that cannot fit", [&](std::string& image) { putInt(image, second, 4077); }, 1},
        {"count that cannot fit", [](std::string& image) { putInt(image, 4, 2000); }, 3},
        {"first position 0", [](std::string& image) { putInt(image, 8, 0); }, 0},
        {"zero-filled", [](std::string& image) { image.assign(8192, '\0'); }, 0},
        {"length not a multiple of 4096", [](std::string& image) { putInt(image, 0, 5000); }, 0},
        {"positions outside the ring", [](std::string& image) { putInt(image, 8, 4096); }, 0},
    };
    for (const auto& [name, spoil, kept] : faults) {
        SCOPED_TRACE(name);
        TempFolder folder("corrupt", TempFolder::Create::Now);
        std::string image = imageOf({good, good, good});
        spoil(image);
        writeBytes(folder.file(".event_queue"), image);
        ScriptedSender sender;
        {
            QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
            EXPECT_EQ(queue.pendingCount(), kept);
            EXPECT_TRUE(enqueueNew(queue, "after"));
        }
        std::vector<std::string> ids(static_cast<size_t>(kept), "good");
        ids.push_back("after");
        EXPECT_EQ(readBytes(folder.file(".event_queue")).size(), 4096u);
        EXPECT_EQ(savedIds(folder.file(".event_queue")), ids);
    }
}

TEST(QueueManagerLoad, DropsOnlyUnparsableEntriesAndRewritesTheFile) {
    TempFolder folder("unparsable", TempFolder::Create::Now);
    writeBytes(folder.file(".event_queue"),
               imageOf({eventText("a"), "not json", eventText("b"), R"({"eId":5})", "[1,2]",
                        eventText("c") + std::string(1, '\0') + "tail", eventText("d")}));
    ScriptedSender sender;
    {
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
        EXPECT_EQ(queue.pendingCount(), 3);
        // The rewritten file is in step: a removal takes exactly the oldest.
        queue.retireOldest(1);
        EXPECT_TRUE(enqueueNew(queue, "e"));
    }
    EXPECT_EQ(loadTexts(folder.file(".event_queue")),
              (std::vector<std::string>{eventText("b"), eventText("d"), eventText("e")}));
}

TEST(QueueManagerLoad, LeavesAFileItCannotOpenAlone) {
    TempFolder folder("unavailable", TempFolder::Create::Now);
    // A folder where the file should be: it exists but cannot be opened.
    fs::create_directory(folder.file(".event_queue"));
    fs::create_directory(fs::path(folder.file(".event_queue")) / "keep");
    ScriptedSender sender;
    QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
    EXPECT_TRUE(enqueueNew(queue, "a"));
    EXPECT_TRUE(enqueueNew(queue, "b"));
    queue.retireOldest(1);
    EXPECT_EQ(queue.pendingCount(), 1);
    EXPECT_TRUE(fs::is_directory(fs::path(folder.file(".event_queue")) / "keep"));
}

TEST(QueueManagerLoad, SecondQueueOnAFolderWorksInMemoryOnly) {
    TempFolder folder("twowriters", TempFolder::Create::Now);
    ScriptedSender sender;
    {
        QueueManager owner(quickSettings(), nullptr, &sender, folder.path());
        QueueManager second(quickSettings(), nullptr, &sender, folder.path());
        EXPECT_TRUE(enqueueNew(owner, "mine"));
        EXPECT_TRUE(enqueueNew(second, "theirs"));
        EXPECT_EQ(second.pendingCount(), 1);
        second.retireOldest(1);
        EXPECT_TRUE(enqueueNew(owner, "mine too"));
    }
    EXPECT_TRUE(fs::exists(folder.file(".event_queue") + ".lock"));
    // Once the owner is gone the next queue takes the lock and the file.
    QueueManager next(quickSettings(), nullptr, &sender, folder.path());
    EXPECT_EQ(next.pendingCount(), 2);
    EXPECT_EQ(savedIds(folder.file(".event_queue")),
              (std::vector<std::string>{"mine", "mine too"}));
}

#ifndef _WIN32  // no file size limit to set on Windows
// Writes beyond the file size limit fail (EFBIG), which makes every file
// operation of the queue fail while it is in force.
class FileSizeLimit {
public:
    FileSizeLimit() {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit none = saved;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }

private:
    rlimit saved{};
};

TEST(QueueManagerFile, RebuildsTheFileFromMemoryAfterFailedWrites) {
    TempFolder folder("streamerrors", TempFolder::Create::Now);
    ScriptedSender sender;
    {
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
        EXPECT_TRUE(enqueueNew(queue, "a"));
        EXPECT_TRUE(enqueueNew(queue, "b"));
        {
            FileSizeLimit failing;
            // Accepted in memory although the file cannot take them.
            EXPECT_TRUE(enqueueNew(queue, "c"));
            EXPECT_TRUE(enqueueNew(queue, "d"));
        }
        // The file lacks c and d; the next operation writes the pending list.
        queue.retireOldest(1);
        EXPECT_EQ(savedIds(folder.file(".event_queue")), (std::vector<std::string>{"b", "c", "d"}));
        {
            FileSizeLimit failing;
            queue.retireOldest(2);
            EXPECT_TRUE(enqueueNew(queue, "e"));
        }
        EXPECT_EQ(queue.pendingCount(), 2);
        EXPECT_TRUE(enqueueNew(queue, "f"));
    }
    EXPECT_EQ(savedIds(folder.file(".event_queue")), (std::vector<std::string>{"d", "e", "f"}));
}
#endif

// The sync thread works whether or not a worker runs: the sync after a
// retirement lets the removed entries be zeroed, and the file ends as a fresh one.
TEST(QueueManagerFile, SyncsChangesWithoutAWorker) {
    TempFolder folder("syncs", TempFolder::Create::Now);
    ScriptedSender sender;
    QueueManager queue(quickSettings(), nullptr, &sender, folder.path());
    for (const char* id : {"a", "b", "c"}) EXPECT_TRUE(enqueueNew(queue, id));
    queue.retireOldest(3);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (readBytes(folder.file(".event_queue")) != freshImage() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(readBytes(folder.file(".event_queue")), freshImage());
}
