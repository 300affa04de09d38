// What the library leaves on disk and what a hostile save folder can do, as
// docs/security.md states it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "corvex/tracking.h"
#include "delivery/http_sender.h"
#include "queue/event_queue_file.h"
#include "support/save_folder.h"
#include "support/service_fixture.h"

using namespace Corvex::Tracking::Testing;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr const char* USER = "key-7Zq";
constexpr const char* PASSWORD = "secret-Xw9";

class Security : public ServiceFixture {
protected:
    TrackingManager* create(bool holdEvents) {
        InitializationData* config = InitializationData_Create();
        InitializationData_SetSavePath(config, folder.path().c_str());
        InitializationData_SetQueueCheckInterval(config, 5);
        InitializationData_SetSendDelay(config, 10);
        InitializationData_SetCustomConfigId(config, holdEvents ? 1 : 0);
        return createManager(USER, PASSWORD, config);
    }

    static unsigned modeOf(const std::filesystem::path& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 0777;
    }
};

}  // namespace

TEST_F(Security, TheSaveFolderHoldsPrivateFilesWithoutCredentials) {
    TrackingManager* manager = create(false);
    TrackingManager_Start(manager);
    TrackingManager_TrackAccountLogin(manager, "account-1", "email");
    ASSERT_GE(waitForEvents(2).size(), 2u);
    TrackingManager_Stop(manager);
    // Saved, not sent: the next run's queue.
    TrackingManager_TrackWithStringValue(manager, "saved", "waiting");
    TrackingManager_Destroy(manager);

    EXPECT_EQ(modeOf(folder.path()), 0700u);
    std::set<std::string> names;
    const std::string token = Corvex::Tracking::makeBasicToken(USER, PASSWORD);
    for (const auto& item : std::filesystem::directory_iterator(folder.path())) {
        const std::string name = item.path().filename().string();
        names.insert(name);
        EXPECT_EQ(modeOf(item.path()), 0600u) << name;
        std::ifstream in(item.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        for (const std::string& secret : {std::string(USER), std::string(PASSWORD), token}) {
            EXPECT_EQ(bytes.find(secret), std::string::npos) << name << " holds a credential";
        }
        // Nothing of the service's answers is kept.
        EXPECT_EQ(bytes.find("recorded"), std::string::npos) << name;
    }
    EXPECT_EQ(names, (std::set<std::string>{".event_queue", ".event_queue.lock",
                                            ".event_queue.owner", ".properties"}));
    // The digest of the first credential, which owns the queue file.
    EXPECT_EQ(fileText(folder.path() + "/.event_queue.owner"), "285a9eb512157509\n");
    const SaveFolderReport saved = inspectSaveFolder(folder.path());
    ASSERT_EQ(saved.events.size(), 1u);
    EXPECT_EQ(saved.events[0]["eventName"], "saved");
}

TEST_F(Security, AWrittenQueueFileCanAddEventsButNotBreakTheLibrary) {
    // Whoever can write the save folder can queue events that the next run
    // sends with the application's credentials; entries that are not events
    // are dropped, and the rest of the file still loads.
    folder.create();
    {
        Corvex::Tracking::EventQueueFile file(folder.path() + "/.event_queue");
        ASSERT_EQ(file.open(), Corvex::Tracking::EventQueueFile::OpenResult::Ready);
        for (const std::string& text :
             {std::string(R"({"eventName":"planted","eId":"e-1","value":{"by":"someone else"}})"),
              std::string("not json at all"), std::string(R"([1,2,3])"),
              std::string(R"({"eventName":5})"), std::string("{\"eventName\":\"\xFF\"}")}) {
            ASSERT_TRUE(file.append(text.data(), static_cast<int32_t>(text.size())));
        }
    }
    TrackingManager* manager = create(false);
    TrackingManager_Start(manager);
    ASSERT_GE(waitForEvents(2).size(), 2u);  // the planted event and the session opening
    std::this_thread::sleep_for(100ms);
    TrackingManager_Destroy(manager);

    const std::vector<json> events = deliveredEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["eventName"], "planted");
    EXPECT_EQ(events[0]["value"]["by"], "someone else");
    for (const auto& request : service.requests()) {
        EXPECT_EQ(request.header("Authorization"),
                  "Basic " + Corvex::Tracking::makeBasicToken(USER, PASSWORD));
    }
    EXPECT_EQ(inspectSaveFolder(folder.path()).problems, "");
}

TEST_F(Security, DeeplyNestedFilesAreRefusedInsteadOfExhaustingTheStack) {
    const std::string nested = std::string(100000, '[') + std::string(100000, ']');
    folder.create();
    std::ofstream(folder.path() + "/.properties")
        << R"({"userId":"stored","extra":)" << nested << "}\n";
    {
        Corvex::Tracking::EventQueueFile file(folder.path() + "/.event_queue");
        ASSERT_EQ(file.open(), Corvex::Tracking::EventQueueFile::OpenResult::Ready);
        const std::string deep = R"({"eventName":"deep","value":)" + nested + "}";
        const std::string flat = R"({"eventName":"flat","value":[[1]]})";
        for (const std::string* text : {&deep, &flat}) {
            ASSERT_TRUE(file.append(text->data(), static_cast<int32_t>(text->size())));
        }
    }
    TrackingManager* manager = create(false);
    // The properties file could not be used: a new user id, stored anew.
    char* userId = TrackingManager_GetUserId(manager);
    EXPECT_STRNE(userId, "stored");
    EXPECT_EQ(std::strlen(userId), 36u);
    std::free(userId);
    TrackingManager_Start(manager);
    ASSERT_GE(waitForEvents(2).size(), 2u);  // the flat event and the session opening
    std::this_thread::sleep_for(100ms);
    TrackingManager_Destroy(manager);
    const std::vector<json> events = deliveredEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["eventName"], "flat");
    EXPECT_EQ(inspectSaveFolder(folder.path()).problems, "");
}

TEST_F(Security, PlantedLinksAreNotWrittenThrough) {
    // A save folder that others can write (a host may choose a shared one)
    // could hold links from the names the library writes to files elsewhere.
    folder.create();
    const std::string victim = folder.path() + "-victim";
    const std::string absent = folder.path() + "-absent";
    std::ofstream(victim) << "precious";
    const auto plant = [&](const char* name, const std::string& target) {
        std::filesystem::remove(folder.path() + name);
        std::filesystem::create_symlink(target, folder.path() + name);
    };

    // The lock file: no file is made where the link points, and the queue
    // then lives in memory only.
    plant("/.event_queue.lock", absent);
    TrackingManager* manager = create(false);
    TrackingManager_Start(manager);
    TrackingManager_Track(manager, "first");
    ASSERT_GE(waitForEvents(2).size(), 2u);
    TrackingManager_Destroy(manager);
    EXPECT_FALSE(std::filesystem::exists(absent));

    // The temporary files of the properties file and of a queue file written
    // anew (this one does not load), and the queue's owner file.
    std::filesystem::remove(folder.path() + "/.event_queue.lock");
    std::ofstream(folder.path() + "/.event_queue") << "not a queue file";
    plant("/.properties.tmp", victim);
    plant("/.event_queue.new", victim);
    plant("/.event_queue.owner", absent);
    manager = create(false);
    TrackingManager_SetUserId(manager, "someone-new");
    TrackingManager_Start(manager);
    TrackingManager_Track(manager, "second");
    ASSERT_GE(waitForEvents(4).size(), 4u);
    TrackingManager_Destroy(manager);

    std::ifstream in(victim);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "precious");
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path() + "/.properties.tmp"));
    EXPECT_FALSE(std::filesystem::is_symlink(folder.path() + "/.event_queue"));
    EXPECT_FALSE(std::filesystem::is_symlink(folder.path() + "/.event_queue.owner"));
    EXPECT_FALSE(std::filesystem::exists(absent));
    std::filesystem::remove(victim);
}

TEST_F(Security, APropertiesFileThatIsNoRegularFileIsNotWaitedOn) {
    folder.create();
    const std::string fifo = folder.path() + "/.properties";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> created{false};
    TrackingManager* manager = nullptr;
    std::thread maker([&] {
        manager = create(false);
        created = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!created && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    if (!created) {
        ADD_FAILURE() << "create waits for a writer of the properties file";
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
    }
    maker.join();
    char* userId = TrackingManager_GetUserId(manager);
    EXPECT_EQ(std::strlen(userId), 36u);  // nothing could be read: a new id
    std::free(userId);
    TrackingManager_Start(manager);
    ASSERT_GE(waitForEvents(1).size(), 1u);
    TrackingManager_Destroy(manager);
}
