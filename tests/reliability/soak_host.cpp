// corvex-soak-host: the host program of the fault-injection soak. It tracks
// numbered custom events as fast as it is told and appends, once each call
// has returned, one line per event to its log: "A <event text>" for an event
// the queue accepted, "R <run> <seq>" for one it refused. The soak driver
// kills it at random moments and starts it again on the same save folder.
//
//   corvex-soak-host --folder DIR --proxy URL --ca FILE --run N --log FILE
//                    [--interval-us U] [--count M] [--drain SECONDS]
//
// --count stops tracking after M events (default: until killed); --drain
// then waits up to that many seconds for the queue to empty and exits 0 when
// it did, 3 when it did not.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "api/manager_handle.h"
#include "corvex/tracking.h"
#include "queue/queue_manager.h"

using Corvex::Tracking::managerOf;

namespace {

struct Options {
    std::string folder;
    std::string proxy;
    std::string caFile;
    std::string log;
    int run = 0;
    int intervalUs = 1000;
    long long count = std::numeric_limits<long long>::max();
    int drainSeconds = 0;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--folder") {
            options.folder = value;
        } else if (name == "--proxy") {
            options.proxy = value;
        } else if (name == "--ca") {
            options.caFile = value;
        } else if (name == "--log") {
            options.log = value;
        } else if (name == "--run") {
            options.run = std::stoi(value);
        } else if (name == "--interval-us") {
            options.intervalUs = std::stoi(value);
        } else if (name == "--count") {
            options.count = std::stoll(value);
        } else if (name == "--drain") {
            options.drainSeconds = std::stoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.folder.empty() && !options.log.empty();
}

// One write per line: a kill leaves whole lines only.
void writeLine(int fd, const std::string& line) {
    const ssize_t written = ::write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) std::_Exit(4);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (!parse(argc, argv, options)) {
            std::fprintf(stderr,
                         "usage: corvex-soak-host --folder DIR --proxy URL --ca FILE --run N "
                         "--log FILE [--interval-us U] [--count M] [--drain SECONDS]\n");
            return 2;
        }
    } catch (const std::exception&) {
        return 2;
    }
    const int log = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0) return 2;

    InitializationData* config = InitializationData_Create();
    InitializationData_SetSavePath(config, options.folder.c_str());
    InitializationData_SetUserId(config, "soak-user");
    InitializationData_SetConfigId(config, "soak");
    // The request body names the run that sent it.
    InitializationData_SetDeviceModel(config, ("soak-run-" + std::to_string(options.run)).c_str());
    InitializationData_SetQueueCheckInterval(config, 10);
    InitializationData_SetSendDelay(config, 50);
    InitializationData_SetInitialRetryInterval(config, 20);
    InitializationData_SetMaxRetries(config, 2);
    TrackingManager* handle = TrackingManager_Create("soak-key", "soak-secret", config);
    InitializationData_Destroy(config);
    TrackingManager_SetSendProxy(handle, options.proxy.c_str());
    TrackingManager_SetSendCertificateAuthority(handle, options.caFile.c_str());
    TrackingManager_Start(handle);

    auto& manager = *managerOf(handle);
    std::mt19937 random(static_cast<unsigned>(options.run));
    for (long long seq = 0; seq < options.count; ++seq) {
        // Texts of a few bytes to a few kilobytes, so that batches are cut
        // by count and by size, and the ring wraps and grows.
        const size_t padding = random() % 16 == 0 ? random() % 6000 : random() % 200;
        auto event = manager.createEvent("soak", false);
        event->value = {{"run", options.run}, {"seq", seq}, {"pad", std::string(padding, 'p')}};
        const std::string text = event->toJsonText();
        if (manager.enqueue(std::move(event))) {
            writeLine(log, "A " + text + "\n");
        } else {
            writeLine(log, "R " + std::to_string(options.run) + " " + std::to_string(seq) + "\n");
        }
        if (options.intervalUs > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(options.intervalUs));
        }
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.drainSeconds);
    while (manager.queue().pendingCount() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool drained = manager.queue().pendingCount() == 0;
    TrackingManager_Stop(handle);
    TrackingManager_Destroy(handle);
    ::close(log);
    return drained ? 0 : 3;
}
