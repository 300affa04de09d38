// The collector's page in a real browser: headless Chromium loads it, an
// event that a host tracks through the library appears in it, and a
// screenshot of it with the event's JSON open is saved beside the test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "collector/collector_service.h"
#include "corvex/tracking.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

extern char** environ;

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Collector;
using Corvex::Tracking::Testing::TempFolder;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

constexpr auto BROWSER_TIME_OUT = std::chrono::seconds(60);

std::string findChromium() {
    std::istringstream path(Platform::getEnv("PATH"));
    for (std::string folder; std::getline(path, folder, ':');) {
        for (const char* name : {"chromium", "chromium-browser"}) {
            const std::string candidate = folder + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
    }
    return "";
}

std::string readFile(const std::string& path) {
    std::string contents;
    Platform::readWholeFile(path, contents);
    return contents;
}

// One headless Chromium process with its own fresh profile, ended when the
// object goes.
class Browser {
public:
    Browser(const std::string& program, const std::string& profile,
            std::vector<std::string> options, const std::string& outputFile) {
        std::vector<std::string> arguments = {program,
                                              "--headless",
                                              "--no-sandbox",
                                              "--disable-gpu",
                                              "--disable-background-networking",
                                              "--disable-component-update",
                                              "--disable-sync",
                                              "--no-first-run",
                                              "--user-data-dir=" + profile};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        // Its standard output is the dumped page; its log goes beside it.
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, (outputFile + ".log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&files);
    }
    ~Browser() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            if (!waitUntilDone(std::chrono::seconds(10))) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

    bool started() const { return pid > 0; }

    // True when the process ended by itself in time.
    bool waitUntilDone(std::chrono::seconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    pid_t pid = -1;
};

// The title of the first page tab, through the browser's debugging port.
std::string pageTitle(int debuggingPort) {
    httplib::Client client("127.0.0.1", debuggingPort);
    const auto result = client.Get("/json/list");
    if (!result || result->status != 200) return "";
    for (const json& target : json::parse(result->body, nullptr, false)) {
        if (target.value("type", "") == "page") return target.value("title", "");
    }
    return "";
}

bool waitForTitle(int debuggingPort, const std::string& title, std::string& last) {
    const auto deadline = Clock::now() + BROWSER_TIME_OUT;
    while (Clock::now() < deadline) {
        last = pageTitle(debuggingPort);
        if (last == title) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace

TEST(CollectorPage, ShowsAnEventTrackedByAHostAsItArrives) {
    const std::string chromium = findChromium();
    if (chromium.empty()) {
        GTEST_SKIP() << "chromium is not installed, so the page was not tested in a browser "
                        "(tools/setup.sh installs it)";
    }
    TempFolder folder("collector_page");
    CollectorSettings settings;
    settings.dataFolder = folder.file("data");
    CollectorService service(settings);
    service.start();
    const std::string page = service.url() + "/";

    // The page is open and has asked for the events once.
    const std::string profile = folder.file("profile");
    Browser live(chromium, profile, {"--remote-debugging-port=0", page}, folder.file("live.out"));
    ASSERT_TRUE(live.started());
    const auto deadline = Clock::now() + BROWSER_TIME_OUT;
    std::string portFile;
    while ((portFile = readFile(profile + "/DevToolsActivePort")).empty() &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(portFile.empty()) << readFile(folder.file("live.out.log"));
    const int debuggingPort = std::stoi(portFile);
    std::string title;
    ASSERT_TRUE(waitForTitle(debuggingPort, "Corvex Collector (0)", title)) << title;

    // A host tracks: its first-open event and its own event appear.
    InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, folder.file("save").c_str());
    InitializationData_SetSendDelay(config, 50);
    TrackingManager* tracker = TrackingManager_Create("page-host", "secret", config);
    InitializationData_Destroy(config);
    TrackingManager_SetSendProxy(tracker, service.url().c_str());
    TrackingManager_SetSendCertificateAuthority(tracker, service.caFile().c_str());
    TrackingManager_Start(tracker);
    TrackingManager_TrackWithJsonValue(tracker, "treasure_found", "{\"gold\":250}");
    const bool appeared = waitForTitle(debuggingPort, "Corvex Collector (2)", title);
    TrackingManager_Stop(tracker);
    TrackingManager_Destroy(tracker);
    ASSERT_TRUE(appeared) << title;

    // The event's row and, selected by the address, its JSON.
    const std::vector<StoredEvent> events = service.store().events({0, "treasure_found", "", 0});
    ASSERT_EQ(events.size(), 1u);
    const std::string selected = page + "#event=" + std::to_string(events[0].id);
    const std::vector<std::string> oneShot = {"--virtual-time-budget=5000",
                                              "--window-size=1280,720"};
    std::vector<std::string> dumpOptions = oneShot;
    dumpOptions.insert(dumpOptions.end(), {"--dump-dom", selected});
    Browser dump(chromium, folder.file("dump-profile"), dumpOptions, folder.file("dom.html"));
    ASSERT_TRUE(dump.waitUntilDone(BROWSER_TIME_OUT));
    const std::string dom = readFile(folder.file("dom.html"));
    EXPECT_NE(dom.find("<td>treasure_found</td>"), std::string::npos) << dom;
    EXPECT_NE(dom.find("<td>page-host</td>"), std::string::npos);
    EXPECT_NE(dom.find("\"eId\": \"" + events[0].event.eId + "\""), std::string::npos);
    EXPECT_NE(dom.find("\"gold\": 250"), std::string::npos);

    const std::string screenshot = std::string(CORVEX_TEST_OUTPUT_DIR) + "/collector_page.png";
    Platform::removeFile(screenshot);
    std::vector<std::string> shotOptions = oneShot;
    shotOptions.insert(shotOptions.end(), {"--screenshot=" + screenshot, selected});
    Browser shot(chromium, folder.file("shot-profile"), shotOptions, folder.file("shot.out"));
    ASSERT_TRUE(shot.waitUntilDone(BROWSER_TIME_OUT));
    const std::string png = readFile(screenshot);
    ASSERT_GT(png.size(), 10000u) << readFile(folder.file("shot.out.log"));
    EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1A\n"), 0);
    std::cout << "screenshot: " << screenshot << std::endl;
}

TEST(CollectorPage, MarksABadEventAndListsWhyItBreaksThePlan) {
    const std::string chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
    TempFolder folder("collector_page_plan");
    CollectorSettings settings;
    settings.dataFolder = folder.file("data");
    settings.plan = std::make_shared<const TrackingPlan>(
        TrackingPlan::fromJson(json::parse(R"({"events": {"loot": {"schema": {"type": "object",
            "properties": {"gold": {"type": "integer"}}}}}})"),
                               "test plan"));
    CollectorService service(settings);
    service.start();
    ReceivedBatch batch;
    batch.events = {{"good-1", "loot", json{{"gold", 5}}, "s", 1, "c", "1"},
                    {"bad-1", "loot", json{{"gold", "lots"}}, "s", 2, "c", "1"}};
    RequestRecord request;
    request.method = "PUT";
    request.path = CollectorService::EVENT_PATH;
    request.transport = "https";
    ASSERT_EQ(service.store().record(request, &batch).newEvents, 2);

    Browser dump(chromium, folder.file("profile"),
                 {"--virtual-time-budget=5000", "--dump-dom", service.url() + "/#event=2"},
                 folder.file("dom.html"));
    ASSERT_TRUE(dump.waitUntilDone(BROWSER_TIME_OUT));
    const std::string dom = readFile(folder.file("dom.html"));
    EXPECT_NE(dom.find("<tr class=\"event bad selected\" data-id=\"2\">"), std::string::npos)
        << dom;
    EXPECT_NE(dom.find("<td class=\"plan\">bad (1)</td>"), std::string::npos);
    EXPECT_NE(dom.find("<td class=\"plan\">good</td>"), std::string::npos);
    EXPECT_NE(dom.find("<span id=\"shown\">2 of 2 shown, 1 bad</span>"), std::string::npos);
    // The selected event's reasons, above its JSON.
    EXPECT_NE(dom.find("<li><code>/gold</code>: "), std::string::npos);
    EXPECT_NE(dom.find("<code>\"lots\"</code></li>"), std::string::npos);
}
