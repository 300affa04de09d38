// The save folder going wrong under a running library: a folder that cannot
// be created, a read-only folder, a full disk (a small tmpfs, mounted where
// the machine allows it), and the queue file deleted or cut short while
// events wait. The library must keep tracking and delivering from memory,
// lose nothing it holds, and save again once the fault is gone.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "api/manager_handle.h"
#include "corvex/tracking.h"
#include "queue/queue_manager.h"
#include "support/save_folder.h"
#include "support/service_fixture.h"

using namespace Corvex::Tracking::Testing;
using namespace std::chrono_literals;
using Corvex::Tracking::managerOf;
using nlohmann::json;

namespace {

// A tmpfs mounted for one test, unmounted at the end. Mounting needs root (as
// in CI); elsewhere the test that needs it is skipped with a message.
class TmpfsMount {
public:
    explicit TmpfsMount(std::string folder) : target(std::move(folder)) {
        std::filesystem::create_directories(target);
    }
    ~TmpfsMount() {
        if (mounted) ::umount2(target.c_str(), MNT_DETACH);
    }
    // "" when mounted, else why not.
    std::string mount(const std::string& options) {
        if (::mount("corvex-test", target.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return std::string("cannot mount a tmpfs (root needed): ") + std::strerror(errno);
        }
        mounted = true;
        return "";
    }
    bool setReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("corvex-test", target.c_str(), "tmpfs", flags, nullptr) == 0;
    }
    const std::string& path() const { return target; }

private:
    std::string target;
    bool mounted = false;
};

class DiskFaults : public ServiceFixture {
protected:
    void SetUp() override {
        folder.create();
        ServiceFixture::SetUp();
    }

    // With holdEvents the config id stays empty, so that nothing is sent and
    // every event waits in the queue until the id is set.
    TrackingManager* create(const std::string& savePath, bool holdEvents) {
        InitializationData* config = InitializationData_Create();
        InitializationData_SetSavePath(config, savePath.c_str());
        InitializationData_SetUserId(config, "player");
        InitializationData_SetQueueCheckInterval(config, 5);
        InitializationData_SetSendDelay(config, 10);
        InitializationData_SetInitialRetryInterval(config, 5);
        InitializationData_SetCustomConfigId(config, holdEvents ? 1 : 0);
        return createManager("key", "secret", config);
    }

    static void trackNumbered(TrackingManager* manager, int from, int to) {
        for (int i = from; i < to; ++i) TrackingManager_TrackWithIntValue(manager, "numbered", i);
    }

    static int32_t waiting(TrackingManager* manager) {
        return managerOf(manager)->queue().pendingCount();
    }

    // The numbers of the numbered events among these, in order.
    static std::vector<int> numbersOf(const std::vector<json>& events) {
        std::vector<int> numbers;
        for (const json& event : events) {
            if (event["eventName"] == "numbered") numbers.push_back(event["value"]["value"]);
        }
        return numbers;
    }

    std::vector<int> deliveredNumbers() const { return numbersOf(deliveredEvents()); }

    bool waitForDelivered(size_t count) const {
        return waitUntil([&] { return deliveredNumbers().size() >= count; });
    }

    // The numbers of the numbered events saved in a folder, in order.
    static std::vector<int> savedNumbers(const std::string& saveFolder) {
        const SaveFolderReport report = inspectSaveFolder(saveFolder);
        EXPECT_EQ(report.problems, "");
        return numbersOf(report.events);
    }

    static std::vector<int> range(int from, int to) {
        std::vector<int> numbers;
        for (int i = from; i < to; ++i) numbers.push_back(i);
        return numbers;
    }
};

}  // namespace

TEST_F(DiskFaults, AFolderThatCannotBeCreatedLeavesEverythingInMemory) {
    // A regular file where a parent folder should be.
    const std::string blocker = folder.file("blocker");
    std::ofstream(blocker) << "x";
    const std::string savePath = blocker + "/save";

    TrackingManager* manager = create(savePath, false);
    char* userId = TrackingManager_GetUserId(manager);
    EXPECT_STREQ(userId, "player");
    std::free(userId);
    TrackingManager_Start(manager);
    trackNumbered(manager, 0, 20);
    EXPECT_TRUE(waitForDelivered(20));
    TrackingManager_Destroy(manager);
    EXPECT_EQ(deliveredNumbers(), range(0, 20));
    EXPECT_FALSE(std::filesystem::exists(savePath));
}

TEST_F(DiskFaults, AReadOnlyFolderDeliversFromMemoryAndSavesOnceWritable) {
    TmpfsMount mount(folder.file("readonly"));
    const std::string problem = mount.mount("size=1m,mode=0700");
    if (!problem.empty()) GTEST_SKIP() << problem;
    // Events saved by an earlier run stay on disk while the folder is read
    // only, for a later run to send.
    TrackingManager* earlier = create(mount.path(), true);
    trackNumbered(earlier, 0, 5);
    TrackingManager_Destroy(earlier);
    ASSERT_TRUE(mount.setReadOnly(true));

    TrackingManager* manager = create(mount.path(), false);
    TrackingManager_Start(manager);
    trackNumbered(manager, 5, 25);
    EXPECT_TRUE(waitForDelivered(20));
    TrackingManager_Destroy(manager);
    EXPECT_EQ(deliveredNumbers(), range(5, 25));

    // Writable again: the saved events are still there, the next run sends
    // them and saves its own.
    ASSERT_TRUE(mount.setReadOnly(false));
    EXPECT_EQ(savedNumbers(mount.path()), range(0, 5));
    TrackingManager* later = create(mount.path(), false);
    TrackingManager_Start(later);
    EXPECT_TRUE(waitForDelivered(25));
    TrackingManager_Stop(later);
    trackNumbered(later, 25, 30);
    TrackingManager_Destroy(later);
    EXPECT_EQ(savedNumbers(mount.path()), range(25, 30));
}

TEST_F(DiskFaults, AFullDiskKeepsEventsInMemoryAndTheFileCatchesUpWhenSpaceReturns) {
    TmpfsMount mount(folder.file("full"));
    const std::string problem = mount.mount("size=256k,mode=0700");
    if (!problem.empty()) GTEST_SKIP() << problem;
    TrackingManager* manager = create(mount.path(), true);
    // Fill what is left, then track far more than the little room holds.
    const std::string filler = mount.path() + "/filler";
    {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(4096, 'f');
        while (out.write(block.data(), block.size())) {
        }
    }
    const std::string pad(300, 'p');
    for (int i = 0; i < 200; ++i) {
        TrackingManager_TrackWithJsonValue(
            manager, "numbered",
            (R"({"value":)" + std::to_string(i) + R"(,"pad":")" + pad + R"("})").c_str());
    }
    EXPECT_EQ(waiting(manager), 200);  // all accepted, held in memory

    // Space again: the next change of the queue writes the whole file anew,
    // and so does the end of the run if nothing changes before it.
    std::filesystem::remove(filler);
    trackNumbered(manager, 200, 201);
    EXPECT_EQ(savedNumbers(mount.path()), range(0, 201));
    TrackingManager_Destroy(manager);

    // And a run that may send delivers every one of them.
    TrackingManager* next = create(mount.path(), false);
    TrackingManager_Start(next);
    EXPECT_TRUE(waitForDelivered(201));
    TrackingManager_Destroy(next);
    EXPECT_EQ(deliveredNumbers(), range(0, 201));
}

TEST_F(DiskFaults, AFullDiskStillDeliversWhatIsHeldInMemory) {
    TmpfsMount mount(folder.file("full_sending"));
    const std::string problem = mount.mount("size=64k,mode=0700");
    if (!problem.empty()) GTEST_SKIP() << problem;
    TrackingManager* manager = create(mount.path(), false);
    std::ofstream(mount.path() + "/filler", std::ios::binary)
        << std::string(64 * 1024, 'f');  // as much as fits
    TrackingManager_Start(manager);
    trackNumbered(manager, 0, 300);
    EXPECT_TRUE(waitForDelivered(300));
    TrackingManager_Destroy(manager);
    EXPECT_EQ(deliveredNumbers(), range(0, 300));
}

TEST_F(DiskFaults, AQueueFileDeletedWhileEventsWaitIsWrittenAgain) {
    const std::string savePath = folder.file("deleted");
    TrackingManager* manager = create(savePath, true);
    TrackingManager_Start(manager);
    trackNumbered(manager, 0, 10);
    std::filesystem::remove(savePath + "/.event_queue");
    trackNumbered(manager, 10, 20);
    TrackingManager_Stop(manager);
    TrackingManager_Destroy(manager);
    EXPECT_EQ(savedNumbers(savePath), range(0, 20));
}

TEST_F(DiskFaults, AQueueFileCutShortWhileEventsWaitIsWrittenAgain) {
    const std::string savePath = folder.file("truncated");
    TrackingManager* manager = create(savePath, true);
    TrackingManager_Start(manager);
    trackNumbered(manager, 0, 10);
    std::filesystem::resize_file(savePath + "/.event_queue", 100);
    trackNumbered(manager, 10, 20);
    TrackingManager_Stop(manager);
    TrackingManager_Destroy(manager);
    EXPECT_EQ(savedNumbers(savePath), range(0, 20));
}

TEST_F(DiskFaults, AQueueFileDeletedOrCutWhileSendingLosesNothing) {
    const std::string savePath = folder.file("sending");
    const std::string queuePath = savePath + "/.event_queue";
    service.setScript({}, Reply{200, 2, false});
    TrackingManager* manager = create(savePath, false);
    TrackingManager_Start(manager);
    for (int i = 0; i < 400; i += 20) {
        trackNumbered(manager, i, i + 20);
        std::error_code missing;  // the worker may not have put it back yet
        if (i % 80 == 0) std::filesystem::remove(queuePath, missing);
        if (i % 80 == 40) std::filesystem::resize_file(queuePath, 40, missing);
        std::this_thread::sleep_for(3ms);
    }
    EXPECT_TRUE(waitForDelivered(400));
    TrackingManager_Stop(manager);
    // What has been delivered is not saved again; the file is sound.
    EXPECT_EQ(savedNumbers(savePath), std::vector<int>());
    TrackingManager_Destroy(manager);
    std::vector<int> delivered = deliveredNumbers();
    std::sort(delivered.begin(), delivered.end());
    delivered.erase(std::unique(delivered.begin(), delivered.end()), delivered.end());
    EXPECT_EQ(delivered, range(0, 400));
}
