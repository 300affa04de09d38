// Every export of the built shared library, looked up by the names of the
// checked-in list, called with null pointers, empty, invalid and 1 MB texts,
// extreme numbers and prices, every setting at its extremes, and in odd
// orders. Every call must return (a watchdog ends the process otherwise), no
// exception may come out, a stop must end within one attempt's time-out, what
// reaches the service must be sound JSON, and every save folder must stay
// loadable.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "base/utf8.h"
#include "reliability/export_table.h"
#include "support/save_folder.h"
#include "support/temp_folder.h"
#include "support/tracking_service.h"

using namespace Corvex::Tracking::Testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

// A call that has not returned after this long hangs.
constexpr auto CALL_LIMIT = 60s;
// A stop waits for at most the one HTTP attempt under way (5 s time-out).
constexpr auto STOP_BOUND = 8s;
constexpr int32_t INT_MIN32 = std::numeric_limits<int32_t>::min();
constexpr int32_t INT_MAX32 = std::numeric_limits<int32_t>::max();

// Ends the process when a call does not return in time, naming the call; a
// hang would otherwise stall the run until CTest's time-out without a word.
class Watchdog {
public:
    Watchdog() : thread([this] { run(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        wakeup.notify_all();
        thread.join();
    }
    void enter(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        current = call;
        since = Clock::now();
    }
    void leave() {
        std::lock_guard<std::mutex> lock(mutex);
        current.clear();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done) {
            wakeup.wait_for(lock, 100ms);
            if (!current.empty() && Clock::now() - since > CALL_LIMIT) {
                std::fprintf(stderr, "%s did not return within %lld s\n", current.c_str(),
                             static_cast<long long>(CALL_LIMIT.count()));
                std::abort();
            }
        }
    }

    std::mutex mutex;
    std::condition_variable wakeup;
    std::string current;
    Clock::time_point since;
    bool done = false;
    std::thread thread;
};

std::vector<std::string> listedExports() {
    std::vector<std::string> names;
    std::ifstream list(CORVEX_EXPORTS_LIST);
    for (std::string line; std::getline(list, line);) {
        if (!line.empty()) names.push_back(line);
    }
    return names;
}

// The table's entries, with addresses from the shared library for every
// listed name. The library stays loaded for the whole run.
const std::map<std::string, ExportEntry>& libraryExports() {
    static const std::map<std::string, ExportEntry> exports = [] {
        std::map<std::string, ExportEntry> found;
        void* library = ::dlopen(CORVEX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return found;
        for (ExportEntry entry : exportSignatures()) {
            entry.function = ::dlsym(library, entry.name.c_str());
            found[entry.name] = entry;
        }
        return found;
    }();
    return exports;
}

ExportArgument D(void* record) {
    ExportArgument a;
    a.pointer = record;
    return a;
}
ExportArgument H(void* manager) {
    return D(manager);
}
ExportArgument S(const char* text) {
    ExportArgument a;
    a.text = text;
    return a;
}
ExportArgument I(int32_t number) {
    ExportArgument a;
    a.number = number;
    return a;
}
ExportArgument F(float price) {
    ExportArgument a;
    a.price = price;
    return a;
}

// 1 MB of text with an invalid UTF-8 byte every 4 KiB.
const std::string& hugeText() {
    static const std::string text = [] {
        std::string t(1 << 20, 'h');
        for (size_t i = 4095; i < t.size(); i += 4096) t[i] = '\xFF';
        return t;
    }();
    return text;
}

const std::vector<const char*>& badTexts() {
    static const std::vector<const char*> texts = {
        nullptr,
        "",
        "\xFF",                  // never valid
        "ab\xC3",                // truncated sequence at the end
        "\xED\xA0\x80",          // a surrogate
        "\xF4\x90\x80\x80",      // above U+10FFFF
        "\xC0\xAF",              // overlong
        "q\"b\\s/\n\t\x01\x7F",  // everything JSON escapes
        "{\"unterminated\":[1,2",
        "[1,2] trailing",
    };
    return texts;
}

const std::vector<int32_t>& badNumbers() {
    static const std::vector<int32_t> numbers = {INT_MIN32, -2, -1, 0, 1, 2, 3, 4, 5, 7, INT_MAX32};
    return numbers;
}

const std::vector<float>& badPrices() {
    static const std::vector<float> prices = {
        std::numeric_limits<float>::quiet_NaN(),
        -std::numeric_limits<float>::quiet_NaN(),
        std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(),
        -0.0f,
        std::numeric_limits<float>::max(),
        std::numeric_limits<float>::lowest(),
        std::numeric_limits<float>::denorm_min(),
        0.99f,
    };
    return prices;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class BadInput : public ::testing::Test {
protected:
    TempFolder folder{"bad_input"};
    TrackingService service;
    Watchdog watchdog;
    std::string originalFolder;

    void SetUp() override {
        ASSERT_EQ(libraryExports().size(), exportSignatures().size())
            << "cannot load " << CORVEX_LIBRARY_PATH;
        // Save paths that are relative, empty or odd land in this run's folder.
        std::filesystem::create_directories(folder.file("cwd"));
        std::filesystem::create_directories(folder.file("appdata"));
        originalFolder = std::filesystem::current_path().string();
        std::filesystem::current_path(folder.file("cwd"));
        ::setenv("LOCALAPPDATA", folder.file("appdata").c_str(), 1);
        service.start();
    }

    void TearDown() override {
        service.stop();
        std::filesystem::current_path(originalFolder);
    }

    // Calls an export through the shared library; an exception that comes
    // out of it fails the test.
    void* call(const std::string& name, const std::vector<ExportArgument>& arguments) {
        const ExportEntry& entry = libraryExports().at(name);
        void* result = nullptr;
        watchdog.enter(name);
        try {
            result = callExport(entry, arguments);
        } catch (...) {
            ADD_FAILURE() << name << " let an exception out";
        }
        watchdog.leave();
        return result;
    }

    void stopWithinBound(void* manager) {
        const auto started = Clock::now();
        call("TrackingManager_Stop", {H(manager)});
        EXPECT_LT(Clock::now() - started, STOP_BOUND);
    }

    void* createRecord(const std::string& savePath) {
        void* record = call("InitializationData_Create", {});
        call("InitializationData_SetSavePath", {D(record), S(savePath.c_str())});
        call("InitializationData_SetQueueCheckInterval", {D(record), I(5)});
        call("InitializationData_SetSendDelay", {D(record), I(20)});
        call("InitializationData_SetInitialRetryInterval", {D(record), I(5)});
        return record;
    }

    void* createManager(const std::string& savePath) {
        void* record = createRecord(savePath);
        void* manager = call("TrackingManager_Create", {S("key"), S("secret"), D(record)});
        call("InitializationData_Destroy", {D(record)});
        return manager;
    }

    // Points the manager at the local service and gives it usable ids.
    void connect(void* manager) {
        call("TrackingManager_SetSendVerbose", {H(manager), I(0)});
        call("TrackingManager_SetSendProxy", {H(manager), S(service.proxyUrl().c_str())});
        call("TrackingManager_SetSendCertificateAuthority",
             {H(manager), S(service.caFile().c_str())});
        call("TrackingManager_SetUserId", {H(manager), S("player")});
        call("TrackingManager_SetConfigId", {H(manager), S("cfg")});
    }

    // One call of an export, its result checked and released.
    void invoke(const ExportEntry& entry, const std::vector<ExportArgument>& arguments) {
        const auto started = Clock::now();
        void* result = call(entry.name, arguments);
        if (entry.name == "TrackingManager_Stop") {
            EXPECT_LT(Clock::now() - started, STOP_BOUND);
        }
        switch (resultKind(entry.shape)) {
            case 's': {
                ASSERT_NE(result, nullptr) << entry.name << " returned no text";
                const std::string text = static_cast<const char*>(result);
                EXPECT_EQ(Corvex::Tracking::repairUtf8(text), text) << entry.name;
                std::free(result);
                break;
            }
            case 'D':
                ASSERT_NE(result, nullptr);
                call("InitializationData_Destroy", {D(result)});
                break;
            case 'H':
                // A manager is made even from odd credentials and settings.
                ASSERT_NE(result, nullptr) << entry.name;
                call("TrackingManager_Destroy", {H(result)});
                break;
            default: break;
        }
    }

    // The export with each argument in turn set to every bad value of its
    // kind, the others usable. The live record and manager are never given
    // to a destroy function: they are destroyed at the end.
    void sweep(const ExportEntry& entry, void* live, void* record) {
        const std::string kinds = argumentKinds(entry.shape);
        std::vector<ExportArgument> usable;
        for (char kind : kinds) {
            switch (kind) {
                case 'D': usable.push_back(D(record)); break;
                case 'H': usable.push_back(H(live)); break;
                case 'S': usable.push_back(S("usable")); break;
                case 'I': usable.push_back(I(1)); break;
                case 'F': usable.push_back(F(1.5f)); break;
            }
        }
        if (kinds.empty()) invoke(entry, {});
        const bool destroys = endsWith(entry.name, "_Destroy");
        for (size_t p = 0; p < kinds.size(); ++p) {
            std::vector<ExportArgument> bad;
            switch (kinds[p]) {
                case 'D': bad = {D(nullptr), D(record)}; break;
                case 'H': bad = {H(nullptr), H(live)}; break;
                case 'S':
                    for (const char* text : badTexts()) bad.push_back(S(text));
                    break;
                case 'I':
                    for (int32_t number : badNumbers()) bad.push_back(I(number));
                    break;
                case 'F':
                    for (float price : badPrices()) bad.push_back(F(price));
                    break;
            }
            for (const ExportArgument& value : bad) {
                if (destroys && value.pointer != nullptr) continue;
                std::vector<ExportArgument> arguments = usable;
                arguments[p] = value;
                invoke(entry, arguments);
            }
        }
        // Everything at once at its far end, every text 1 MB long.
        std::vector<ExportArgument> extreme;
        for (char kind : kinds) {
            switch (kind) {
                case 'D': extreme.push_back(D(destroys ? nullptr : record)); break;
                case 'H': extreme.push_back(H(destroys ? nullptr : live)); break;
                case 'S': extreme.push_back(S(hugeText().c_str())); break;
                case 'I': extreme.push_back(I(INT_MAX32)); break;
                case 'F': extreme.push_back(F(std::numeric_limits<float>::infinity())); break;
            }
        }
        if (!kinds.empty()) invoke(entry, extreme);
    }

    // Every request body the service received must be JSON with the events
    // under "subMessages", each one sound.
    void expectSoundBodies() {
        for (const auto& request : service.requests()) {
            const json body = json::parse(request.body, nullptr, false);
            ASSERT_FALSE(body.is_discarded()) << "a body is not JSON";
            ASSERT_TRUE(body.contains("subMessages") && body["subMessages"].is_array());
            for (const json& event : body["subMessages"]) EXPECT_EQ(eventProblem(event), "");
        }
    }

    // Every save folder below this run's folder reads as sound.
    void expectSoundSaveFolders() {
        std::set<std::string> folders;
        for (const auto& item : std::filesystem::recursive_directory_iterator(folder.path())) {
            const std::string name = item.path().filename().string();
            if (name == ".event_queue" || name == ".properties") {
                folders.insert(item.path().parent_path().string());
            }
        }
        EXPECT_FALSE(folders.empty());
        for (const std::string& saveFolder : folders) {
            EXPECT_EQ(inspectSaveFolder(saveFolder).problems, "") << saveFolder;
        }
    }

    // Events the service accepted whose name is not a session opening.
    size_t deliveredTrackedEvents() {
        size_t count = 0;
        for (const auto& request : service.requests()) {
            const json body = json::parse(request.body);
            for (const json& event : body["subMessages"]) {
                const std::string name = event["eventName"];
                if (name != "vxsdk_open" && name != "vxsdk_first_open") ++count;
            }
        }
        return count;
    }

    bool waitForTrackedEvents(size_t count) {
        const auto deadline = Clock::now() + 30s;
        while (deliveredTrackedEvents() < count) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
};

}  // namespace

TEST_F(BadInput, EveryListedExportIsInTheSignatureTableAndResolves) {
    const std::vector<std::string> listed = listedExports();
    EXPECT_EQ(listed.size(), 71u);
    std::set<std::string> tabled;
    for (const ExportEntry& entry : exportSignatures()) tabled.insert(entry.name);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), tabled);
    for (const std::string& name : listed) {
        const auto found = libraryExports().find(name);
        ASSERT_NE(found, libraryExports().end()) << name << " has no signature";
        EXPECT_NE(found->second.function, nullptr) << name << " is not exported";
    }
}

TEST_F(BadInput, EveryExportTakesEveryBadArgument) {
    void* record = createRecord(folder.file("record"));
    void* live = createManager(folder.file("live"));
    ASSERT_NE(live, nullptr);
    connect(live);
    call("TrackingManager_Start", {H(live)});

    for (const std::string& name : listedExports()) {
        sweep(libraryExports().at(name), live, record);
        // Undo what the sweep changed, so that the next export meets a
        // running, connected manager again.
        connect(live);
        call("InitializationData_SetSavePath", {D(record), S(folder.file("record").c_str())});
        // A stored id of 1 MB would be written anew, and flushed to disk, by
        // every create below; once is enough.
        call("InitializationData_SetUserId", {D(record), S("record-user")});
        call("TrackingManager_Start", {H(live)});
    }

    stopWithinBound(live);
    call("TrackingManager_Destroy", {H(live)});
    call("InitializationData_Destroy", {D(record)});
    EXPECT_GT(service.requests().size(), 0u);
    expectSoundBodies();
    expectSoundSaveFolders();
}

TEST_F(BadInput, OddOrdersOfCallsEndInASoundState) {
    void* record = createRecord(folder.file("odd"));
    // Events before any start, then destroy without start or stop: they are
    // saved for the next run.
    void* manager = call("TrackingManager_Create", {S("key"), S("secret"), D(record)});
    call("TrackingManager_TrackLevelStart", {H(manager), I(1), S("before start")});
    call("TrackingManager_OnPause", {H(manager)});
    call("TrackingManager_OnResume", {H(manager)});
    call("TrackingManager_Destroy", {H(manager)});
    const SaveFolderReport saved = inspectSaveFolder(folder.file("odd"));
    EXPECT_EQ(saved.problems, "");
    EXPECT_EQ(saved.events.size(), 1u);

    // Stop before start, stop twice, start twice, destroy without stop.
    manager = call("TrackingManager_Create", {S("key"), S("secret"), D(record)});
    call("InitializationData_Destroy", {D(record)});  // read only during create
    connect(manager);
    stopWithinBound(manager);
    stopWithinBound(manager);
    call("TrackingManager_Start", {H(manager)});
    call("TrackingManager_Start", {H(manager)});
    ASSERT_TRUE(waitForTrackedEvents(1));  // the event saved before
    call("TrackingManager_Destroy", {H(manager)});

    // Everything after stop; a later start delivers what was made meanwhile.
    manager = createManager(folder.file("odd"));
    connect(manager);
    call("TrackingManager_Start", {H(manager)});
    stopWithinBound(manager);
    size_t tracked = 0;
    for (const ExportEntry& entry : exportSignatures()) {
        const std::string kinds = argumentKinds(entry.shape);
        if (entry.name.rfind("TrackingManager_", 0) != 0 || kinds.empty() || kinds[0] != 'H' ||
            endsWith(entry.name, "_Destroy") || endsWith(entry.name, "_Start")) {
            continue;
        }
        std::vector<ExportArgument> arguments = {H(manager)};
        for (size_t i = 1; i < kinds.size(); ++i) {
            if (kinds[i] == 'S') arguments.push_back(S("after stop"));
            if (kinds[i] == 'I') arguments.push_back(I(2));
            if (kinds[i] == 'F') arguments.push_back(F(2.5f));
        }
        invoke(libraryExports().at(entry.name), arguments);
        if (entry.name.rfind("TrackingManager_Track", 0) == 0) ++tracked;
    }
    connect(manager);  // the sweep above set odd transport options and ids
    call("TrackingManager_Start", {H(manager)});
    EXPECT_TRUE(waitForTrackedEvents(1 + tracked));
    stopWithinBound(manager);
    call("TrackingManager_Destroy", {H(manager)});
    expectSoundBodies();
    expectSoundSaveFolders();
}

TEST_F(BadInput, SettingsAtTheirExtremesKeepTheManagerStoppable) {
    // Refusals, retries and success in turn, so that every wait is reached.
    service.setScript({{503}, {429}, {400}, {200}, {500}}, {200});
    const char* const intSetters[] = {
        "InitializationData_SetStoreType",
        "InitializationData_SetMaxRetries",
        "InitializationData_SetInitialRetryInterval",
        "InitializationData_SetFlushQueueSize",
        "InitializationData_SetFlushSendSize",
        "InitializationData_SetQueueCheckInterval",
        "InitializationData_SetSendDelay",
        "InitializationData_SetEnableSave",
        "InitializationData_SetCustomUserId",
        "InitializationData_SetCustomConfigId",
    };
    int round = 0;
    for (int32_t extreme : {INT_MIN32, -1, 0, INT_MAX32}) {
        const std::string saveFolder = folder.file("extreme" + std::to_string(round++));
        void* record = createRecord(saveFolder);
        for (const char* setter : intSetters) call(setter, {D(record), I(extreme)});
        void* manager = call("TrackingManager_Create", {S("key"), S("secret"), D(record)});
        call("InitializationData_Destroy", {D(record)});
        connect(manager);
        call("TrackingManager_Start", {H(manager)});
        for (int i = 0; i < 20; ++i) {
            call("TrackingManager_TrackWithIntValue", {H(manager), S("extreme"), I(i)});
        }
        std::this_thread::sleep_for(300ms);
        call("TrackingManager_OnPause", {H(manager)});
        call("TrackingManager_OnResume", {H(manager)});
        stopWithinBound(manager);
        call("TrackingManager_Start", {H(manager)});
        stopWithinBound(manager);
        call("TrackingManager_Destroy", {H(manager)});
        EXPECT_EQ(inspectSaveFolder(saveFolder).problems, "") << extreme;
    }
    expectSoundBodies();
}

TEST_F(BadInput, StopDuringAStalledAttemptEndsWithinTheAttemptTimeOut) {
    service.setScript({}, Reply{200, 30000, false});
    void* manager = createManager(folder.file("stall"));
    connect(manager);
    call("TrackingManager_Start", {H(manager)});
    ASSERT_TRUE(service.waitForRequests(1, 10s));
    // Tracking never waits for the network, stalled as it is.
    const auto tracking = Clock::now();
    for (int i = 0; i < 50; ++i)
        call("TrackingManager_TrackWithIntValue", {H(manager), S("during"), I(i)});
    EXPECT_LT(Clock::now() - tracking, 2s);
    stopWithinBound(manager);
    call("TrackingManager_Destroy", {H(manager)});
    // The stalled batch was not settled as sent: it waits in the file.
    const SaveFolderReport saved = inspectSaveFolder(folder.file("stall"));
    EXPECT_EQ(saved.problems, "");
    EXPECT_FALSE(saved.events.empty());
}

TEST_F(BadInput, DeeplyNestedJsonIsRefusedInsteadOfExhaustingTheStack) {
    const auto nested = [](size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    void* manager = createManager(folder.file("nested"));
    connect(manager);
    const std::string deepest = nested(256);
    call("TrackingManager_TrackWithJsonValue", {H(manager), S("kept"), S(deepest.c_str())});
    for (size_t depth : {257u, 100000u}) {
        const std::string text = nested(depth);
        call("TrackingManager_TrackWithJsonValue", {H(manager), S("refused"), S(text.c_str())});
    }
    // Brackets inside strings are text, however many.
    const std::string quoted = "\"" + std::string(100000, '[') + "\"";
    call("TrackingManager_TrackWithJsonValue", {H(manager), S("string"), S(quoted.c_str())});
    call("TrackingManager_Start", {H(manager)});
    ASSERT_TRUE(waitForTrackedEvents(4));
    stopWithinBound(manager);
    call("TrackingManager_Destroy", {H(manager)});

    std::map<std::string, std::vector<json>> values;
    for (const auto& request : service.requests()) {
        const json body = json::parse(request.body);
        for (const json& event : body["subMessages"])
            values[event["eventName"]].push_back(event["value"]);
    }
    ASSERT_EQ(values["kept"].size(), 1u);
    EXPECT_EQ(values["kept"][0].dump(), deepest);
    EXPECT_EQ(values["refused"], (std::vector<json>{json(), json()}));
    ASSERT_EQ(values["string"].size(), 1u);
    EXPECT_EQ(values["string"][0], std::string(100000, '['));
}
