// corvex-test-service: the local tracking service as a program, for tests
// that run beside it and for looking at what a build sends.
//
//   corvex-test-service [--port N] [--script FILE]
//
// --port is the proxy's port (default: a free one); --script names a JSON
// file of replies (see Script::fromJsonText; default: 200 to everything).
// Prints one JSON line {"caFile":...,"proxyUrl":...,"port":N,
// "servicePort":M,"host":...}, then one JSON line per request as it arrives,
// and runs until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/tracking_service.h"

using Corvex::Tracking::Testing::RecordedRequest;
using Corvex::Tracking::Testing::Script;
using Corvex::Tracking::Testing::TrackingService;

namespace {

int usage() {
    std::cerr << "usage: corvex-test-service [--port N] [--script FILE]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    Script script;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string option = argv[i];
            if (i + 1 >= argc) return usage();
            const std::string value = argv[++i];
            if (option == "--port") {
                port = std::stoi(value);
            } else if (option == "--script") {
                std::ifstream file(value, std::ios::binary);
                if (!file) throw std::runtime_error("cannot read " + value);
                std::ostringstream text;
                text << file.rdbuf();
                script = Script::fromJsonText(text.str());
            } else {
                return usage();
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "corvex-test-service: " << error.what() << "\n";
        return 2;
    }

    // Blocked here, so every thread started below inherits the mask and the
    // signals wait for sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TrackingService service;
    std::mutex output;
    service.setScript(script.steps, script.afterwards);
    service.setRequestListener([&output](const RecordedRequest& request) {
        std::lock_guard<std::mutex> lock(output);
        std::cout << request.toJsonLine() << std::endl;
    });
    try {
        service.start(port);
    } catch (const std::exception& error) {
        std::cerr << "corvex-test-service: " << error.what() << "\n";
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(output);
        std::cout << nlohmann::json{{"caFile", service.caFile()},
                                    {"proxyUrl", service.proxyUrl()},
                                    {"port", service.proxyPort()},
                                    {"servicePort", service.servicePort()},
                                    {"host", TrackingService::host()}}
                         .dump()
                  << std::endl;
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    service.stop();
    return 0;
}
