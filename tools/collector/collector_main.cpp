// corvex-collector: a local tracking service for developers who integrate
// the library.
//
//   corvex-collector serve   [--port N] [--https-port N] [--data DIR]
//                            [--user NAME --password SECRET]
//                            [--fail-rate R] [--status CODE] [--plain-http]
//                            [--plan FILE]
//   corvex-collector events  [--data DIR] [--name EVENT] [--user NAME] [--json] [--follow]
//   corvex-collector stats   [--data DIR] [--json]
//   corvex-collector check   --plan FILE [--data DIR] [--user NAME] [--json] [--allow-empty]
//
// check exits with 0 when the stored events keep the plan, 1 for violations
// (or an empty store without --allow-empty) and 2 for any other failure.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "collector/collector_service.h"
#include "collector/event_report.h"
#include "collector/plan_report.h"
#include "collector/tracking_plan.h"
#include "platform/platform.h"

using namespace Corvex::Tracking;
using namespace Corvex::Tracking::Collector;

namespace {

constexpr int DEFAULT_PORT = 8470;
constexpr auto FOLLOW_INTERVAL = std::chrono::milliseconds(300);
constexpr int64_t CHECK_PAGE = 1000;
constexpr int CHECK_VIOLATIONS = 1;
constexpr int CHECK_FAILURE = 2;

std::string defaultDataFolder() {
    return Platform::localAppDataFolder() + "/Corvex/Collector";
}

std::string clockTime(int64_t milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[16];
    return std::string(text, std::strftime(text, sizeof text, "%H:%M:%S", &parts));
}

int serve(CollectorSettings settings, const std::string& planFile) {
    // Blocked here, so every thread started below inherits the mask and the
    // signals wait for sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that goes away makes the server write to a closed socket.
    signal(SIGPIPE, SIG_IGN);

    CollectorService service(settings);
    std::mutex output;
    const TrackingPlan* plan = settings.plan.get();
    service.setRequestListener([&output, plan](const RequestRecord& request,
                                               const RecordResult& result,
                                               const ReceivedBatch* batch) {
        std::lock_guard<std::mutex> lock(output);
        std::cout << clockTime(request.receivedAtMs) << "  " << request.status << "  "
                  << terminalCell(request.user.empty() ? "-" : request.user, 40) << "  ";
        if (batch != nullptr) {
            std::cout << formatAccepted(result, *batch, plan);
        } else {
            std::cout << terminalCell(request.reason, 120);
        }
        std::cout << std::endl;
    });
    service.start();
    {
        std::lock_guard<std::mutex> lock(output);
        std::cout << "corvex-collector listening on " << service.url() << "\n"
                  << "  web page:              " << service.url() << "/\n"
                  << "  proxy for the library: " << service.url() << "\n"
                  << "  certificate authority: " << service.caFile()
                  << (service.madeNewAuthority() ? " (new)" : "") << "\n"
                  << "  HTTPS endpoint:        https://127.0.0.1:" << service.httpsPort()
                  << CollectorService::EVENT_PATH << "\n"
                  << "  database:              " << service.databaseFile() << "\n"
                  << "  credentials:           "
                  << (settings.checkCredentials ? "user " + settings.user + " and its password"
                                                : std::string("any"))
                  << "\n"
                  << "  tracking plan:         " << (plan ? planFile : std::string("none")) << "\n"
                  << "A host sends here with TrackingManager_SetSendProxy(tracker, \""
                  << service.url() << "\") and TrackingManager_SetSendCertificateAuthority("
                  << "tracker, \"" << service.caFile() << "\")." << std::endl;
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    service.stop();
    return 0;
}

// The database a serve command made in the folder.
std::unique_ptr<EventStore> openDatabase(const std::string& dataFolder) {
    const std::string path = dataFolder + "/collector.sqlite";
    if (!Platform::fileExists(path)) {
        throw std::runtime_error("no database in " + dataFolder +
                                 " (corvex-collector serve --data " + dataFolder + " makes one)");
    }
    return std::make_unique<EventStore>(path, EventStore::Mode::Existing);
}

int listEvents(const std::string& dataFolder, const EventFilter& base, bool asJson, bool follow) {
    const std::unique_ptr<EventStore> store = openDatabase(dataFolder);
    EventFilter filter = base;
    bool headerShown = false;
    for (;;) {
        const std::vector<StoredEvent> events = store->events(filter);
        if (!events.empty()) {
            std::cout << (asJson ? formatEventJsonLines(events)
                                 : formatEventTable(events, !headerShown))
                      << std::flush;
            headerShown = true;
            filter.afterId = events.back().id;
        }
        if (!follow) return 0;
        std::this_thread::sleep_for(FOLLOW_INTERVAL);
    }
}

int showStats(const std::string& dataFolder, bool asJson) {
    const EventStats stats = openDatabase(dataFolder)->stats();
    std::cout << (asJson ? stats.toJson().dump() + "\n" : formatStats(stats));
    return 0;
}

struct CheckOptions {
    std::string planFile;
    std::string user;
    bool asJson = false;
    bool allowEmpty = false;
};

int checkPlan(const std::string& dataFolder, const CheckOptions& options) {
    const TrackingPlan plan = TrackingPlan::load(options.planFile);
    const std::unique_ptr<EventStore> store = openDatabase(dataFolder);
    PlanReport report(plan);
    EventFilter filter;
    filter.user = options.user;
    filter.limit = CHECK_PAGE;
    // Read in pages, so that a large store is never held at once.
    for (;;) {
        const std::vector<StoredEvent> events = store->events(filter);
        for (const StoredEvent& stored : events)
            report.add(stored.event.eventName, stored.event.value);
        if (static_cast<int64_t>(events.size()) < CHECK_PAGE) break;
        filter.afterId = events.back().id;
    }
    if (options.asJson) {
        std::cout << report.toJson(options.allowEmpty).dump() << "\n";
    } else {
        std::cout << report.toText(options.allowEmpty);
    }
    return report.passed(options.allowEmpty) ? 0 : CHECK_VIOLATIONS;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "corvex-collector: a local tracking service that stores and shows the events "
        "a host sends"};
    app.require_subcommand(1);
    std::string dataFolder = defaultDataFolder();

    CollectorSettings settings;
    settings.port = DEFAULT_PORT;
    CLI::App* serveCommand =
        app.add_subcommand("serve", "Receive events until interrupted (Ctrl-C)");
    serveCommand->add_option("--port", settings.port, "Port of the proxy and the page (0: free)")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    serveCommand
        ->add_option("--https-port", settings.httpsPort, "Port of the HTTPS endpoint (0: free)")
        ->check(CLI::Range(0, 65535));
    serveCommand->add_option("--data", dataFolder, "Folder of the database and the authority")
        ->capture_default_str();
    CLI::Option* userOption =
        serveCommand->add_option("--user", settings.user, "Accept only this Basic user name");
    CLI::Option* passwordOption = serveCommand->add_option("--password", settings.password,
                                                           "Accept only this Basic password");
    userOption->needs(passwordOption);
    passwordOption->needs(userOption);
    CLI::Option* failRateOption = serveCommand->add_option(
        "--fail-rate", settings.failRate, "Share of event requests answered with --status");
    failRateOption->check(CLI::Range(0.0, 1.0));
    CLI::Option* statusOption = serveCommand->add_option(
        "--status", settings.failStatus, "Status of injected failures (alone: every request)");
    statusOption->capture_default_str()->check(CLI::Range(300, 599));
    serveCommand->add_flag("--plain-http", settings.plainHttp,
                           "Accept events over plain HTTP on the proxy's port too");
    std::string planFile;
    serveCommand->add_option("--plan", planFile, "Classify every event against this plan");

    EventFilter filter;
    bool asJson = false;
    bool follow = false;
    CLI::App* eventsCommand = app.add_subcommand("events", "Print the stored events");
    eventsCommand->add_option("--data", dataFolder, "Folder of the database")
        ->capture_default_str();
    eventsCommand->add_option("--name", filter.name, "Only events of this name");
    eventsCommand->add_option("--user", filter.user, "Only events from this Basic user name");
    eventsCommand->add_flag("--json", asJson, "One JSON object per line instead of a table");
    eventsCommand->add_flag("--follow", follow, "Keep printing new events until interrupted");

    CLI::App* statsCommand = app.add_subcommand("stats", "Print counts per event name and totals");
    statsCommand->add_option("--data", dataFolder, "Folder of the database")->capture_default_str();
    statsCommand->add_flag("--json", asJson, "One JSON object instead of a table");

    CheckOptions checkOptions;
    CLI::App* checkCommand = app.add_subcommand(
        "check", "Check the stored events against a tracking plan (exit 0 good, 1 violations)");
    checkCommand->add_option("--plan", checkOptions.planFile, "The plan file (JSON)")->required();
    checkCommand->add_option("--data", dataFolder, "Folder of the database")->capture_default_str();
    checkCommand->add_option("--user", checkOptions.user, "Only events from this Basic user name");
    checkCommand->add_flag("--json", checkOptions.asJson, "One JSON document instead of text");
    checkCommand->add_flag("--allow-empty", checkOptions.allowEmpty,
                           "Pass with no stored events (by default that fails)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        // check keeps 1 for violations: a bad command line is a failure (2).
        const bool checking = argc > 1 && std::string(argv[1]) == "check";
        return checking && code != 0 ? CHECK_FAILURE : code;
    }

    try {
        if (serveCommand->parsed()) {
            settings.dataFolder = dataFolder;
            settings.checkCredentials = userOption->count() > 0;
            if (statusOption->count() > 0 && failRateOption->count() == 0) settings.failRate = 1;
            if (!planFile.empty()) {
                // Before anything starts, so that a bad plan stores nothing.
                try {
                    settings.plan =
                        std::make_shared<const TrackingPlan>(TrackingPlan::load(planFile));
                } catch (const PlanError& error) {
                    std::cerr << "corvex-collector: " << error.what() << std::endl;
                    return 2;
                }
                for (const std::string& warning : settings.plan->warnings()) {
                    std::cerr << "corvex-collector: plan warning: " << warning << "\n";
                }
            }
            return serve(settings, planFile);
        }
        if (eventsCommand->parsed()) return listEvents(dataFolder, filter, asJson, follow);
        if (checkCommand->parsed()) return checkPlan(dataFolder, checkOptions);
        return showStats(dataFolder, asJson);
    } catch (const std::exception& error) {
        std::cerr << "corvex-collector: " << error.what() << std::endl;
        return checkCommand->parsed() ? CHECK_FAILURE : 1;
    }
}
