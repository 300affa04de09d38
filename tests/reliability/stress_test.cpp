// Eight host threads track events of every kind at once through the C
// interface while a ninth starts, stops, pauses, resumes, changes the user and
// config ids and the transport options, and the local service answers with a
// mix of success and retryable failures. Under ThreadSanitizer this finds data
// races; in every build it checks that each numbered event the queue accepted
// is delivered exactly once, unaltered, and that the save folder stays sound.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "api/manager_handle.h"
#include "corvex/tracking.h"
#include "queue/queue_manager.h"
#include "reliability/export_addresses.h"
#include "support/save_folder.h"
#include "support/service_fixture.h"

using namespace Corvex::Tracking::Testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Corvex::Tracking::managerOf;
using nlohmann::json;

namespace {

constexpr int HOST_THREADS = 8;
// Each host thread tracks for this long (and at least a few rounds), so the
// run takes about as long in a sanitizer build as in a plain one.
constexpr auto TRACKING_TIME = 1500ms;
constexpr int MIN_ROUNDS = 3;

// The service's answers: one in four a retryable failure or a refusal.
std::vector<Reply> mixedReplies(size_t count) {
    std::mt19937 random(7);
    std::vector<Reply> replies;
    for (size_t i = 0; i < count; ++i) {
        switch (random() % 8) {
            case 0: replies.push_back({503}); break;
            case 1: replies.push_back({429}); break;
            case 2: replies.push_back({400}); break;
            default: replies.push_back({200}); break;
        }
    }
    return replies;
}

// Calls every tracking export once with values that vary by thread and round.
void trackEveryKind(const std::vector<ExportEntry>& exports, TrackingManager* manager, int thread,
                    int round) {
    const std::string text = "t" + std::to_string(thread) + "-r" + std::to_string(round);
    for (const ExportEntry& entry : exports) {
        if (entry.name.rfind("TrackingManager_Track", 0) != 0) continue;
        // Each argument carries a value of every kind; the shape picks one.
        ExportArgument argument;
        argument.pointer = manager;
        argument.text = text.c_str();
        argument.number = round % 5;
        argument.price = static_cast<float>(round) + 0.25f;
        callExport(entry, std::vector<ExportArgument>(argumentKinds(entry.shape).size(), argument));
    }
}

class Stress : public ServiceFixture {
protected:
    std::vector<Reply> replies = mixedReplies(300);

    void SetUp() override {
        ServiceFixture::SetUp();
        service.setScript(replies, Reply{200});
    }

    TrackingManager* create() {
        InitializationData* config = InitializationData_Create();
        InitializationData_SetSavePath(config, folder.path().c_str());
        InitializationData_SetQueueCheckInterval(config, 2);
        InitializationData_SetSendDelay(config, 5);
        InitializationData_SetInitialRetryInterval(config, 1);
        InitializationData_SetMaxRetries(config, 2);
        InitializationData_SetFlushSendSize(config, 500);
        InitializationData_SetUserId(config, "alice");
        return createManager("stress", "secret", config);
    }

    // Every event of every request the service answered with a 2xx.
    std::vector<json> eventsAnsweredOk() {
        std::vector<json> events;
        const auto requests = service.requests();
        for (size_t i = 0; i < requests.size(); ++i) {
            const int status = i < replies.size() ? replies[i].status : 200;
            if (status < 200 || status > 299) continue;
            const json body = json::parse(requests[i].body);
            for (const json& event : body["subMessages"]) events.push_back(event);
        }
        return events;
    }
};

}  // namespace

TEST_F(Stress, EightThreadsTrackWhileAnotherDrivesTheLifecycle) {
    const std::vector<ExportEntry> exports = linkedExports();
    TrackingManager* manager = create();
    TrackingManager_Start(manager);

    std::mutex acceptedMutex;
    std::map<std::string, json> accepted;  // event id -> the event as queued
    std::atomic<int> refused{0};
    std::atomic<int> working{HOST_THREADS};

    std::vector<std::thread> hosts;
    for (int t = 0; t < HOST_THREADS; ++t) {
        hosts.emplace_back([&, t] {
            const auto end = Clock::now() + TRACKING_TIME;
            for (int round = 0; round < MIN_ROUNDS || Clock::now() < end; ++round) {
                trackEveryKind(exports, manager, t, round);
                // A numbered event made through the class, to learn whether
                // the queue took it.
                auto event = managerOf(manager)->createEvent("numbered", false);
                event->value = json{{"thread", t}, {"round", round}};
                json queued = json::parse(event->toJsonText());
                const std::string eId = event->eId;
                if (managerOf(manager)->enqueue(std::move(event))) {
                    std::lock_guard<std::mutex> lock(acceptedMutex);
                    accepted[eId] = std::move(queued);
                } else {
                    ++refused;
                }
                std::free(TrackingManager_GetUserId(manager));
                // Bursts with short gaps let the worker catch up now and
                // then, so that the queue is full only part of the time.
                std::this_thread::sleep_for(4ms);
            }
            --working;
        });
    }

    std::thread lifecycle([&] {
        std::mt19937 random(11);
        const char* const userIds[] = {"alice", "bob", ""};
        const char* const configIds[] = {"cfg-1", "cfg-2", ""};
        while (working > 0) {
            switch (random() % 9) {
                case 0: TrackingManager_Start(manager); break;
                case 1: TrackingManager_Stop(manager); break;
                case 2: TrackingManager_OnPause(manager); break;
                case 3: TrackingManager_OnResume(manager); break;
                case 4: TrackingManager_SetUserId(manager, userIds[random() % 3]); break;
                case 5: TrackingManager_SetConfigId(manager, configIds[random() % 3]); break;
                case 6: std::free(TrackingManager_GetUserId(manager)); break;
                case 7: TrackingManager_SetSendVerbose(manager, 0); break;
                default: TrackingManager_SetSendProxy(manager, service.proxyUrl().c_str()); break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1 + random() % 3));
        }
    });
    for (std::thread& host : hosts) host.join();
    lifecycle.join();

    // Usable ids and a running worker drain the queue.
    TrackingManager_SetUserId(manager, "alice");
    TrackingManager_SetConfigId(manager, "cfg-1");
    TrackingManager_Start(manager);
    const auto deadline = Clock::now() + 60s;
    while (managerOf(manager)->queue().pendingCount() > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(managerOf(manager)->queue().pendingCount(), 0);
    TrackingManager_Stop(manager);
    TrackingManager_Destroy(manager);

    ASSERT_GT(accepted.size(), 0u);
    std::map<std::string, int> copies;
    for (const json& event : eventsAnsweredOk()) {
        EXPECT_EQ(eventProblem(event), "");
        const auto found = accepted.find(event["eId"].get<std::string>());
        if (found == accepted.end()) continue;
        ++copies[found->first];
        EXPECT_EQ(event, found->second) << "altered on the way";
    }
    // No time-outs and no kills here, so nothing may arrive twice.
    for (const auto& [eId, event] : accepted) {
        EXPECT_EQ(copies[eId], 1) << event.dump();
    }
    const SaveFolderReport saved = inspectSaveFolder(folder.path());
    EXPECT_EQ(saved.problems, "");
    EXPECT_TRUE(saved.events.empty());
    RecordProperty("accepted", static_cast<int>(accepted.size()));
    RecordProperty("refused", refused.load());
}
