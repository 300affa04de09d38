// Which queue file each application key gets on a shared save folder: the
// claim of `.event_queue`, the files of the other keys, claims under way or
// cut short, and what each key's later runs load.
#include "queue/queue_file_owner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "queue_manager_fakes.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Testing;
using namespace std::chrono_literals;

namespace {

constexpr const char* KEY_A = "game-a";
constexpr const char* KEY_B = "other";
const std::string DIGEST_A = "6c7c3e5c89ca2b2d";
const std::string DIGEST_B = "0a24ad61c2562a55";

class QueueFileOwnerTest : public ::testing::Test {
protected:
    std::string shared() const { return folder.file(".event_queue"); }
    std::string owner() const { return folder.file(".event_queue.owner"); }
    std::string ownFile(const std::string& digest) const {
        return folder.file(".event_queue." + digest);
    }
    std::string lockQueueFile(const char* key, Platform::FileLock& lock) const {
        return QueueFileOwner(folder.path(), key).lockQueueFile(lock);
    }
    // The ids a new queue of the key loads, as its first batch sends them.
    std::vector<std::string> idsLoadedBy(const char* key) const {
        ScriptedSender sender;
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path(), key);
        if (queue.pendingCount() == 0) return {};
        EXPECT_TRUE(queue.startWorker());
        EXPECT_TRUE(sender.waitForBatches(1));
        queue.stopWorker();
        return sender.allIds();
    }

    TempFolder folder{"owner", TempFolder::Create::Now};
};

}  // namespace

TEST(QueueFileOwner, DigestIsFnv1aOfTheKeyBytesInLowerCaseHex) {
    EXPECT_EQ(QueueFileOwner::digestOf(""), "cbf29ce484222325");
    EXPECT_EQ(QueueFileOwner::digestOf("foobar"), "85944171f73967e8");
    EXPECT_EQ(QueueFileOwner::digestOf(KEY_A), DIGEST_A);
    EXPECT_EQ(QueueFileOwner::digestOf(KEY_B), DIGEST_B);  // leading zero kept
    EXPECT_EQ(QueueFileOwner::digestOf("cl\xc3\xa9-\xc3\xbc"), "15502792591e1d4e");
}

TEST_F(QueueFileOwnerTest, FirstKeyClaimsTheSharedFileAndEveryOtherKeyHasItsOwn) {
    Platform::FileLock a, secondA, b, secondB;
    EXPECT_EQ(lockQueueFile(KEY_A, a), shared());
    EXPECT_EQ(fileText(owner()), DIGEST_A + "\n");
    EXPECT_EQ(lockQueueFile(KEY_B, b), ownFile(DIGEST_B));
    // A second instance of either key finds its lock held.
    EXPECT_EQ(lockQueueFile(KEY_A, secondA), "");
    EXPECT_EQ(lockQueueFile(KEY_B, secondB), "");
    a.release();
    b.release();
    // A free shared file does not tempt the other key.
    EXPECT_EQ(lockQueueFile(KEY_B, secondB), ownFile(DIGEST_B));
    EXPECT_EQ(lockQueueFile(KEY_A, secondA), shared());
    EXPECT_EQ(fileText(owner()), DIGEST_A + "\n");
}

TEST_F(QueueFileOwnerTest, AClaimUnderWayIsWaitedFor) {
    Platform::FileLock claimer;
    ASSERT_TRUE(claimer.tryLock(shared() + ".lock"));
    writeBytes(owner(), "");  // created, not yet written
    std::thread finish([&] {
        std::this_thread::sleep_for(30ms);
        writeBytes(owner(), DIGEST_A + "\n");
    });
    Platform::FileLock b;
    EXPECT_EQ(lockQueueFile(KEY_B, b), ownFile(DIGEST_B));
    finish.join();
}

TEST_F(QueueFileOwnerTest, AClaimCutShortIsMendedOnlyByTheHolderOfTheSharedLock) {
    // Never written, torn, and not the digest's form.
    for (const std::string& cutShort : {std::string(""), DIGEST_A.substr(0, 15),
                                        std::string("6C7C3E5C89CA2B2D\n"), DIGEST_A + "\r\n"}) {
        SCOPED_TRACE(cutShort);
        writeBytes(owner(), cutShort);
        {
            Platform::FileLock holder, b;
            ASSERT_TRUE(holder.tryLock(shared() + ".lock"));
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(lockQueueFile(KEY_B, b), "");
            EXPECT_GE(std::chrono::steady_clock::now() - start, 80ms);  // it waited
            EXPECT_EQ(readBytes(owner()), cutShort);
        }
        Platform::FileLock b;
        EXPECT_EQ(lockQueueFile(KEY_B, b), shared());
        EXPECT_EQ(fileText(owner()), DIGEST_B + "\n");
    }
}

TEST_F(QueueFileOwnerTest, AKeyWithAFileOfItsOwnKeepsItWhileNoOwnerIsNamed) {
    // Left when a power cut took back the owner file the key had read.
    writeBytes(ownFile(DIGEST_B), freshImage());
    Platform::FileLock b, a;
    EXPECT_EQ(lockQueueFile(KEY_B, b), ownFile(DIGEST_B));
    EXPECT_FALSE(Platform::fileExists(owner()));
    EXPECT_EQ(lockQueueFile(KEY_A, a), shared());
}

TEST_F(QueueFileOwnerTest, KeysOneAfterTheOtherLoadOnlyTheirOwnEvents) {
    // A file without an owner: adopted by the first key that opens it.
    writeBytes(shared(), imageOf({eventText("earlier")}));
    ScriptedSender sender;
    {
        QueueManager a(quickSettings(), nullptr, &sender, folder.path(), KEY_A);
        EXPECT_EQ(a.pendingCount(), 1);
        EXPECT_TRUE(enqueueNew(a, "a1"));
    }
    {
        QueueManager b(quickSettings(), nullptr, &sender, folder.path(), KEY_B);
        EXPECT_EQ(b.pendingCount(), 0);
        EXPECT_TRUE(enqueueNew(b, "b1"));
    }
    {
        QueueManager a(quickSettings(), nullptr, &sender, folder.path(), KEY_A);
        EXPECT_TRUE(enqueueNew(a, "a2"));
    }
    EXPECT_EQ(idsLoadedBy(KEY_B), std::vector<std::string>{"b1"});
    EXPECT_EQ(idsLoadedBy(KEY_A), (std::vector<std::string>{"earlier", "a1", "a2"}));
    EXPECT_EQ(idsLoadedBy(KEY_A), std::vector<std::string>{});  // delivered and removed
}

TEST_F(QueueFileOwnerTest, KeysStartingAtOnceOnAFreshFolderBothKeepTheirQueueSaved) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::remove_all(folder.path());
        folder.create();
        std::atomic<int> started{0}, queued{0};
        const auto run = [&](const char* key, const char* eId) {
            ScriptedSender sender;
            ++started;
            while (started < 2) std::this_thread::yield();
            QueueManager queue(quickSettings(), nullptr, &sender, folder.path(), key);
            EXPECT_TRUE(enqueueNew(queue, eId));
            // Both queues live at once.
            ++queued;
            while (queued < 2) std::this_thread::yield();
        };
        std::thread a(run, KEY_A, "a"), b(run, KEY_B, "b");
        a.join();
        b.join();
        const std::string claim = fileText(owner());
        ASSERT_TRUE(claim == DIGEST_A + "\n" || claim == DIGEST_B + "\n") << claim;
        const bool aOwns = claim == DIGEST_A + "\n";
        EXPECT_EQ(savedIds(aOwns ? shared() : ownFile(DIGEST_A)), std::vector<std::string>{"a"});
        EXPECT_EQ(savedIds(aOwns ? ownFile(DIGEST_B) : shared()), std::vector<std::string>{"b"});
        EXPECT_FALSE(Platform::fileExists(ownFile(aOwns ? DIGEST_A : DIGEST_B)));
    }
}

TEST_F(QueueFileOwnerTest, ASingleApplicationWritesTheQueueFileAsBeforeAndTheOwnerFile) {
    {
        ScriptedSender sender;
        QueueManager queue(quickSettings(), nullptr, &sender, folder.path(), KEY_A);
        EXPECT_TRUE(enqueueNew(queue, "a"));
        EXPECT_TRUE(enqueueNew(queue, "b"));
    }
    EXPECT_EQ(readBytes(shared()), imageOf({eventText("a"), eventText("b")}));
    EXPECT_EQ(readBytes(owner()), DIGEST_A + "\n");
    std::set<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder.path()))
        names.insert(item.path().filename().string());
    EXPECT_EQ(names,
              (std::set<std::string>{".event_queue", ".event_queue.lock", ".event_queue.owner"}));
}
