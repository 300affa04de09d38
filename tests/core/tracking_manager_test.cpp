#include "core/tracking_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "base/initialization_data.h"
#include "delivery/http_sender.h"
#include "queue/queue_manager.h"
#include "support/save_folder.h"
#include "support/temp_folder.h"

using namespace Corvex::Tracking;
using Testing::fileText;
using Testing::savedEventNames;
using Testing::savedEvents;
using Testing::TempFolder;

namespace {

const std::regex UUID_V4("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");

// Settings that keep the worker from sending (no config id), so tests see
// every event in the queue file.
InitializationData quietSettings(const TempFolder& folder) {
    InitializationData settings;
    settings.SavePath = folder.path();
    settings.CustomConfigId = true;
    return settings;
}

struct FakeClock {
    std::atomic<int64_t> now{1700000000000};
    TrackingManager::Clock function() {
        return [this] { return now.load(); };
    }
};

}  // namespace

TEST(TrackingManagerIdentity, FirstRunMakesAndStoresAUserIdAndSendsFirstOpen) {
    TempFolder folder("first_run");
    InitializationData settings = quietSettings(folder);
    std::string firstId;
    {
        TrackingManager manager("u", "p", &settings);
        firstId = manager.getUserId();
        EXPECT_TRUE(std::regex_match(firstId, UUID_V4)) << firstId;
        EXPECT_EQ(fileText(folder.file(".properties")), "{\"userId\":\"" + firstId + "\"}\n");
        manager.start();
        manager.stop();
        EXPECT_EQ(savedEventNames(folder.path()), std::vector<std::string>{"vxsdk_first_open"});
    }
    // Second run: the stored id, no rewrite, an ordinary open.
    std::filesystem::remove(folder.file(".event_queue"));
    const auto written = std::filesystem::last_write_time(folder.file(".properties"));
    TrackingManager manager("u", "p", &settings);
    EXPECT_EQ(manager.getUserId(), firstId);
    manager.start();
    manager.stop();
    EXPECT_EQ(savedEventNames(folder.path()), std::vector<std::string>{"vxsdk_open"});
    EXPECT_EQ(std::filesystem::last_write_time(folder.file(".properties")), written);
}

TEST(TrackingManagerIdentity, GivenUserIdDecidesFirstOpenAgainstTheStoredOne) {
    TempFolder folder("given_id");
    InitializationData settings = quietSettings(folder);
    settings.UserId = "player-1";
    {
        TrackingManager manager("u", "p", &settings);  // nothing stored: first open
        manager.start();
        manager.stop();
    }
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"userId\":\"player-1\"}\n");
    {
        TrackingManager manager("u", "p", &settings);  // stored equal: open
        manager.start();
        manager.stop();
    }
    settings.UserId = "player-2";
    {
        TrackingManager manager("u", "p", &settings);  // stored different: first open
        EXPECT_EQ(manager.getUserId(), "player-2");
        manager.start();
        manager.stop();
    }
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"userId\":\"player-2\"}\n");
    EXPECT_EQ(savedEventNames(folder.path()),
              (std::vector<std::string>{"vxsdk_first_open", "vxsdk_open", "vxsdk_first_open"}));
}

TEST(TrackingManagerIdentity, AnotherKeyOnTheFolderSharesTheUserIdButNotTheQueue) {
    TempFolder folder("two_keys");
    InitializationData settings = quietSettings(folder);
    std::string firstId;
    {
        TrackingManager manager("u", "p", &settings);
        firstId = manager.getUserId();
        manager.start();
        manager.stop();
    }
    const std::string properties = fileText(folder.file(".properties"));
    {
        TrackingManager manager("other", "p", &settings);
        EXPECT_EQ(manager.getUserId(), firstId);
        manager.start();
        manager.stop();
    }
    EXPECT_EQ(fileText(folder.file(".properties")), properties);
    // The first key's queue, and the second key's, named by its digest.
    EXPECT_EQ(savedEventNames(folder.path()), std::vector<std::string>{"vxsdk_first_open"});
    EXPECT_EQ(savedEventNames(folder.path(), ".event_queue.0a24ad61c2562a55"),
              std::vector<std::string>{"vxsdk_open"});
}

TEST(TrackingManagerIdentity, DamagedPropertiesFilesGiveANewIdAndKeepOtherMembers) {
    for (const std::string& contents :
         {std::string(""), std::string("garbage"), std::string("[\"userId\"]"),
          std::string("{\"userId\":42,\"other\":1}"), std::string("{\"userId\":\"\"}")}) {
        TempFolder folder("damaged", TempFolder::Create::Now);
        Platform::replaceFileContents(folder.file(".properties"), contents);
        InitializationData settings = quietSettings(folder);
        TrackingManager manager("u", "p", &settings);
        const std::string id = manager.getUserId();
        EXPECT_TRUE(std::regex_match(id, UUID_V4)) << contents;
        const std::string expected = contents.find("other") != std::string::npos
                                         ? "{\"other\":1,\"userId\":\"" + id + "\"}\n"
                                         : "{\"userId\":\"" + id + "\"}\n";
        EXPECT_EQ(fileText(folder.file(".properties")), expected) << contents;
    }
}

TEST(TrackingManagerIdentity, SetUserIdStoresOnlyChangesAndKeepsOtherMembers) {
    TempFolder folder("set_user", TempFolder::Create::Now);
    Platform::replaceFileContents(folder.file(".properties"), "{\"userId\":\"old\",\"other\":1}");
    InitializationData settings = quietSettings(folder);
    TrackingManager manager("u", "p", &settings);
    manager.setUserId("old");
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"userId\":\"old\",\"other\":1}");
    manager.setUserId("new");
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"other\":1,\"userId\":\"new\"}\n");
    manager.setUserId("");
    EXPECT_EQ(fileText(folder.file(".properties")), "{\"other\":1,\"userId\":\"\"}\n");
    EXPECT_EQ(manager.getUserId(), "");
}

TEST(TrackingManagerIdentity, CustomIdsAndSavingOff) {
    TempFolder folder("custom");
    InitializationData settings;
    settings.SavePath = folder.path();
    settings.CustomUserId = true;
    settings.CustomConfigId = true;
    {
        TrackingManager manager("u", "p", &settings);
        EXPECT_EQ(manager.getUserId(), "");
        EXPECT_EQ(manager.getConfigId(), "");
        EXPECT_FALSE(manager.canSend());
        EXPECT_FALSE(std::filesystem::exists(folder.file(".properties")));
        manager.setUserId("me");
        EXPECT_FALSE(manager.canSend());
        manager.setConfigId("cfg");
        EXPECT_TRUE(manager.canSend());
    }
    settings.CustomConfigId = false;
    settings.CustomUserId = false;
    settings.EnableSave = false;
    TempFolder unused("saving_off");
    settings.SavePath = unused.path();
    TrackingManager a("u", "p", &settings), b("u", "p", &settings);
    EXPECT_EQ(a.getConfigId(), "default");
    EXPECT_TRUE(std::regex_match(a.getUserId(), UUID_V4));
    EXPECT_NE(a.getUserId(), b.getUserId());
    EXPECT_TRUE(a.savePath().empty());
    EXPECT_FALSE(std::filesystem::exists(unused.path()));
}

TEST(TrackingManagerIdentity, SaveFolderIsCreatedPrivateAtAnyDepth) {
    TempFolder folder("deep");
    InitializationData settings = quietSettings(folder);
    settings.SavePath = folder.path() + "/a/b/c";
    TrackingManager manager("u", "p", &settings);
    EXPECT_TRUE(std::filesystem::is_directory(settings.SavePath));
    EXPECT_EQ(
        std::filesystem::status(folder.path() + "/a").permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::exists(settings.SavePath + "/.properties"));
}

#ifdef _WIN32
TEST(TrackingManagerIdentity, SavePathIsCutAtEitherSeparatorOnWindows) {
    // A Unity host joins its forward-slash data path and a name with "\".
    TempFolder folder("separators");
    std::string forward = folder.path();
    std::replace(forward.begin(), forward.end(), '\\', '/');
    for (const std::string& path :
         {forward + "/forward/a/b", folder.path() + "\\back\\a\\b\\c",
          forward + "/LocalLow/Studio/Game\\tracking", forward + "\\mixed/a\\b/c\\d"}) {
        InitializationData settings = quietSettings(folder);
        settings.SavePath = path;
        {
            TrackingManager manager("u", "p", &settings);
            manager.start();
            manager.stop();
        }
        EXPECT_TRUE(std::filesystem::is_regular_file(path + "\\.properties")) << path;
        EXPECT_EQ(savedEventNames(path), std::vector<std::string>{"vxsdk_first_open"}) << path;
    }
}
#else
TEST(TrackingManagerIdentity, BackslashIsPartOfAFolderNameOnPosix) {
    TempFolder folder("backslash");
    InitializationData settings = quietSettings(folder);
    settings.SavePath = folder.path() + "/Studio\\x/Game\\tracking";
    TrackingManager manager("u", "p", &settings);
    EXPECT_TRUE(std::filesystem::exists(folder.file("Studio\\x/Game\\tracking/.properties")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("Studio")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("Studio\\x/Game")));
}
#endif

TEST(TrackingManagerSessions, ThirtySecondRuleFromTheLastOpeningOrPause) {
    TempFolder folder("sessions");
    InitializationData settings = quietSettings(folder);
    settings.UserId = "fixed";
    { TrackingManager settle("u", "p", &settings); }  // store the id: later runs send open
    FakeClock clock;
    TrackingManager manager("u", "p", &settings, clock.function());
    manager.onPause();
    manager.onResume();  // not started: ignored
    EXPECT_EQ(manager.sessionId(), "");

    manager.start();
    const std::string first = manager.sessionId();
    EXPECT_TRUE(std::regex_match(first, UUID_V4));
    manager.start();  // again within 30 s: same session, no event

    manager.onPause();
    clock.now += 30000;
    manager.onResume();
    EXPECT_EQ(manager.sessionId(), first);

    manager.onPause();
    clock.now += 30001;
    manager.onResume();
    const std::string second = manager.sessionId();
    EXPECT_NE(second, first);

    clock.now += 40000;  // no pause: the gap counts from the opening
    manager.onResume();
    const std::string third = manager.sessionId();
    EXPECT_NE(third, second);

    manager.onPause();
    clock.now -= 3600000;  // clock set back: a negative gap keeps the session
    manager.onResume();
    EXPECT_EQ(manager.sessionId(), third);

    manager.stop();
    manager.onPause();  // stopped: ignored
    clock.now += 3600000 + 30001;
    manager.onResume();
    EXPECT_EQ(manager.sessionId(), third);
    manager.start();  // long after the last opening: a new session
    EXPECT_NE(manager.sessionId(), third);
    manager.stop();

    const auto events = savedEvents(folder.path());
    ASSERT_EQ(events.size(), 4u);
    for (const auto& event : events) EXPECT_EQ(event["eventName"], "vxsdk_open");
    EXPECT_EQ(events[0]["id"], first);
    EXPECT_EQ(events[1]["id"], second);
    EXPECT_EQ(events[2]["id"], third);
}

TEST(TrackingManagerEvents, OpenEventCarriesTheInstallationFacts) {
    TempFolder folder("open_payload");
    InitializationData settings = quietSettings(folder);
    settings.Country = "FR";
    settings.DeviceModel = "Desk";
    settings.AppVersion = "2.1";
    settings.AppBuildNumber = "77";
    settings.ConfigId = "cfg";
    FakeClock clock;
    TrackingManager manager("u", "p", &settings, clock.function());
    manager.start();
    manager.stop();
    const auto events = savedEvents(folder.path());
    ASSERT_EQ(events.size(), 1u);
    const auto& value = events[0]["value"];
    EXPECT_EQ(value["app_version"], "2.1");
    EXPECT_EQ(value["build_number"], "77");
    EXPECT_EQ(value["cfg_id"], "cfg");
    EXPECT_EQ(value["country"], "FR");
    EXPECT_EQ(value["device"], "Desk");
    EXPECT_EQ(value["ip_address"], Platform::localIpv4Address());
    EXPECT_EQ(value["os_version"], Platform::osVersionText());
    EXPECT_EQ(value["vx_sdk_version"], "0.0.1-cpp");
    EXPECT_EQ(value.size(), 8u);
    EXPECT_EQ(events[0]["timeInMs"], clock.now.load());
    EXPECT_EQ(events[0]["appVersion"], "2.1");
    EXPECT_EQ(events[0]["cfgId"], "cfg");
}

TEST(TrackingManagerEvents, FactoryStampsIdentityAndBootTimeMeasuresFromTheLastStart) {
    TempFolder folder("factory");
    InitializationData settings = quietSettings(folder);
    FakeClock clock;
    TrackingManager manager("u", "p", &settings, clock.function());
    manager.trackBootEnd();  // no boot start yet: measured from 0
    manager.trackBootStart();
    clock.now += 1500;
    manager.trackBootEnd();
    manager.setConfigId("later");
    manager.track("custom", true, [](TrackingEvent&) {});
    manager.trackIntValue("n", -5);
    manager.trackStringValue("s", "{\"a\":1}");

    const auto events = savedEvents(folder.path());
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0]["value"]["boot_time"], clock.now.load() - 1500);
    EXPECT_EQ(events[1]["eventName"], "vxsdk_boot_start");
    EXPECT_TRUE(events[1]["value"].is_null());
    EXPECT_EQ(events[2]["value"].dump(), "{\"boot_time\":1500}");
    EXPECT_EQ(events[2]["cfgId"], "");
    EXPECT_EQ(events[3]["cfgId"], "later");
    EXPECT_TRUE(events[3]["value"].is_null());
    EXPECT_EQ(events[4]["value"].dump(), "{\"value\":-5}");
    EXPECT_EQ(events[5]["value"].dump(), "{\"value\":\"{\\\"a\\\":1}\"}");
    for (const auto& event : events) {
        EXPECT_EQ(event["id"], "");  // no session opened yet
        EXPECT_TRUE(std::regex_match(event["eId"].get<std::string>(), UUID_V4));
    }
}

TEST(TrackingManagerConcurrency, HostThreadsTrackWhileIdsAndLifecycleChange) {
    TempFolder folder("concurrency");
    InitializationData settings = quietSettings(folder);
    settings.QueueCheckInterval = 1;
    TrackingManager manager("u", "p", &settings);
    // Requests fail at once on a closed local port instead of waiting on a name.
    manager.setSendProxy("http://127.0.0.1:1");
    std::atomic<bool> done{false};
    std::vector<std::thread> trackers;
    for (int t = 0; t < 4; ++t) {
        trackers.emplace_back([&manager, t] {
            for (int i = 0; i < 100; ++i) {
                manager.trackIntValue("thread" + std::to_string(t), i);
                manager.trackBootStart();
                manager.trackBootEnd();
            }
        });
    }
    std::thread changer([&] {
        for (int i = 0; !done; ++i) {
            manager.setUserId("user" + std::to_string(i % 3));
            manager.setConfigId(i % 2 ? "" : "cfg");
            manager.start();
            manager.onPause();
            manager.onResume();
            manager.stop();
        }
    });
    for (auto& thread : trackers) thread.join();
    done = true;
    changer.join();
    EXPECT_LE(manager.queue().pendingCount(), QueueManager::MAX_PENDING);
    EXPECT_GE(manager.queue().pendingCount(), 1);
}
