// corvex-soak: the fault-injection soak. It starts the standalone test
// service with a random script of answers (success, 5xx, 429, 4xx, dropped
// connections, stalls past the client's 5-second time-out), runs the soak
// host again and again on one save folder, killing it with SIGKILL at random
// moments, lets a last run drain the queue, and then checks what the service
// received against what the hosts logged as accepted:
// - every accepted event was delivered (in a request answered 2xx) at least
//   once, and every copy equals the event as it was queued;
// - every further copy is explained by at-least-once delivery: the run that
//   sent the earlier copy was killed before it could retire it, or the
//   service answered the earlier copy only after the client had given up;
// - a delivered event missing from the logs was made by a run killed between
//   the queue's acceptance and the log line, at most one per kill;
// - the save folder is sound and empty at the end.
//
//   corvex-soak --service PATH --host PATH --work DIR
//               [--events N] [--kills K] [--seed S] [--report FILE]
//
// It runs until at least N events were accepted and K kills were made
// (defaults 20000 and 20), prints the figures, writes them as JSON to the
// report file, and exits 0 when every check held.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/save_folder.h"

extern char** environ;

using Corvex::Tracking::Testing::eventProblem;
using Corvex::Tracking::Testing::inspectSaveFolder;
using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The library gives up on an attempt after 5 seconds; an answer delayed this
// long reaches no one.
constexpr int CLIENT_TIMEOUT_MS = 5000;

struct Options {
    std::string service;
    std::string host;
    std::string work;
    std::string report;
    long long events = 20000;
    int kills = 20;
    unsigned seed = 1;
};

struct Reply {
    int status = 200;
    int delayMs = 0;
    bool drop = false;

    bool delivers() const { return !drop && status >= 200 && status <= 299; }
    json toJson() const {
        return {{"status", status}, {"delayMs", delayMs}, {"dropConnection", drop}};
    }
};

// The service's answers in order. Most are quick successes; the rest are
// the faults a real service shows.
std::vector<Reply> makeScript(std::mt19937& random, size_t steps) {
    std::vector<Reply> script;
    const auto pick = [&](std::initializer_list<int> values) {
        return *(values.begin() + random() % values.size());
    };
    for (size_t i = 0; i < steps; ++i) {
        Reply reply;
        const unsigned roll = random() % 100;
        if (roll < 75) {
            reply.status = pick({200, 200, 200, 201, 204});
            if (random() % 10 == 0) reply.delayMs = 50 + static_cast<int>(random() % 1450);
        } else if (roll < 82) {
            reply.status = pick({500, 502, 503});
            reply.delayMs = static_cast<int>(random() % 200);
        } else if (roll < 87) {
            reply.status = 429;
        } else if (roll < 91) {
            reply.status = pick({400, 401, 403, 404});
        } else if (roll < 97) {
            reply.drop = true;
            reply.delayMs = static_cast<int>(random() % 1000);
        } else {
            // A stall past the time-out, then an answer no one reads.
            reply.status = pick({200, 200, 503});
            reply.delayMs = CLIENT_TIMEOUT_MS + 1000 + static_cast<int>(random() % 1500);
            reply.drop = random() % 4 == 0;
        }
        script.push_back(reply);
    }
    return script;
}

std::string replyKind(const Reply& reply) {
    if (reply.delayMs >= CLIENT_TIMEOUT_MS) return "stalled";
    if (reply.drop) return "dropped";
    if (reply.status >= 200 && reply.status <= 299) return "2xx";
    if (reply.status == 429) return "429";
    if (reply.status >= 500) return "5xx";
    return "4xx";
}

pid_t spawn(const std::vector<std::string>& arguments, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for the process until the deadline; true with its status when it ended.
bool waitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
}

// Calls onLine with each whole line of the file from the byte offset on,
// and gives the offset after the last whole line. The logs grow to hundreds
// of megabytes in a long run, so they are read as a stream.
template <typename OnLine>
std::streamoff forEachLine(const std::string& path, std::streamoff from, OnLine&& onLine) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(from);
    std::streamoff end = from;
    for (std::string line; std::getline(in, line);) {
        if (in.eof()) break;  // a line still being written
        onLine(line);
        end = in.tellg();
    }
    return end;
}

// An accepted event: its text as the JSON library writes it, and its run.
struct Accepted {
    std::string text;
    int run = 0;
};

struct Figures {
    long long accepted = 0;
    long long refused = 0;
    long long delivered = 0;
    long long copies = 0;
    long long duplicatesAfterKill = 0;
    long long duplicatesAfterTimeout = 0;
    long long duplicatesUnexplained = 0;
    long long lost = 0;
    long long altered = 0;
    long long unlogged = 0;
    long long unloggedUnexplained = 0;
    long long unsoundEvents = 0;
    int runs = 0;
    int kills = 0;
    int gracefulRuns = 0;
    std::map<std::string, long long> requests;
};

class Soak {
public:
    explicit Soak(Options options) : options(std::move(options)), random(this->options.seed) {}

    int run() {
        std::filesystem::remove_all(options.work);
        std::filesystem::create_directories(options.work + "/save");
        script = makeScript(random, static_cast<size_t>(options.events / 5 + 2000));
        json scriptJson = {{"steps", json::array()}, {"afterwards", Reply{}.toJson()}};
        for (const Reply& reply : script) scriptJson["steps"].push_back(reply.toJson());
        std::ofstream(options.work + "/script.json") << scriptJson.dump();

        servicePid = spawn({options.service, "--script", options.work + "/script.json"},
                           options.work + "/service.jsonl");
        if (servicePid < 0 || !readServiceInfo()) return fail("the test service did not start");

        const auto started = Clock::now();
        long long accepted = 0;
        while (accepted < options.events || killed < options.kills) {
            if (figures.runs >= 20 * options.kills + 100) return fail("too many runs");
            if (!oneRun(random() % 8 == 0)) return fail("a host run failed");
            accepted = countAccepted();
        }
        // The last run tracks nothing and ends once the queue is empty.
        if (!drainRun()) return fail("the last run did not empty the queue");
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

        ::kill(servicePid, SIGTERM);
        int status = 0;
        ::waitpid(servicePid, &status, 0);
        servicePid = -1;
        const bool sound = verify();
        printFigures(seconds);
        return sound ? 0 : 1;
    }

private:
    int fail(const std::string& why) {
        std::cerr << "corvex-soak: " << why << "\n";
        if (servicePid > 0) ::kill(servicePid, SIGTERM);
        return 2;
    }

    bool readServiceInfo() {
        const auto deadline = Clock::now() + 20s;
        while (Clock::now() < deadline) {
            std::string first;
            forEachLine(options.work + "/service.jsonl", 0, [&](const std::string& line) {
                if (first.empty()) first = line;
            });
            if (!first.empty()) {
                const json info = json::parse(first, nullptr, false);
                if (info.is_discarded() || !info.contains("proxyUrl")) return false;
                proxyUrl = info["proxyUrl"];
                caFile = info["caFile"];
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    std::vector<std::string> hostArguments(int run) {
        return {options.host,
                "--folder",
                options.work + "/save",
                "--proxy",
                proxyUrl,
                "--ca",
                caFile,
                "--run",
                std::to_string(run),
                "--log",
                options.work + "/accepted.log",
                "--interval-us",
                std::to_string(500 + random() % 2500)};
    }

    // One host run: killed after a random time, or (graceful) tracking a few
    // hundred events and ending by itself once its queue is empty.
    bool oneRun(bool graceful) {
        const int run = ++figures.runs;
        std::vector<std::string> arguments = hostArguments(run);
        if (graceful) {
            arguments.insert(arguments.end(),
                             {"--count", std::to_string(100 + random() % 900), "--drain", "60"});
        }
        const pid_t pid = spawn(arguments, options.work + "/host.out");
        if (pid < 0) return false;
        int status = 0;
        if (graceful) {
            if (!waitUntil(pid, Clock::now() + 120s, status)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return false;
            }
            ++figures.gracefulRuns;
            runKilled[run] = false;
            // Exit 3: the queue did not empty in time (a long stall); the
            // events stay saved for the next run.
            return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
        }
        const auto lifetime = std::chrono::milliseconds(200 + random() % 3800);
        if (waitUntil(pid, Clock::now() + lifetime, status)) return false;  // died by itself
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ++killed;
        runKilled[run] = true;
        return true;
    }

    bool drainRun() {
        const int run = ++figures.runs;
        std::vector<std::string> arguments = hostArguments(run);
        arguments.insert(arguments.end(), {"--count", "0", "--drain", "300"});
        runKilled[run] = false;
        const pid_t pid = spawn(arguments, options.work + "/host.out");
        int status = 0;
        if (pid < 0 || !waitUntil(pid, Clock::now() + 360s, status)) {
            if (pid > 0) ::kill(pid, SIGKILL);
            return false;
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // The accepted events logged so far, reading only what is new.
    long long countAccepted() {
        logOffset =
            forEachLine(options.work + "/accepted.log", logOffset, [&](const std::string& line) {
                if (line.rfind("A ", 0) == 0) ++acceptedSoFar;
            });
        return acceptedSoFar;
    }

    bool verify() {
        std::map<std::string, Accepted> accepted;
        forEachLine(options.work + "/accepted.log", 0, [&](const std::string& line) {
            if (line.rfind("R ", 0) == 0) {
                ++figures.refused;
            } else if (line.rfind("A ", 0) == 0) {
                const json event = json::parse(line.substr(2), nullptr, false);
                if (event.is_discarded()) return;
                accepted[event["eId"]] = {event.dump(), event["value"]["run"].get<int>()};
            }
        });
        figures.accepted = static_cast<long long>(accepted.size());
        figures.kills = killed;

        // Every copy of every event, in the order the service received them.
        struct Copy {
            size_t request;
            int run;
        };
        std::map<std::string, std::vector<Copy>> copies;
        std::vector<Reply> replies;
        bool infoLine = true;
        forEachLine(options.work + "/service.jsonl", 0, [&](const std::string& line) {
            if (std::exchange(infoLine, false)) return;
            const json request = json::parse(line, nullptr, false);
            if (request.is_discarded()) return;
            const size_t index = replies.size();
            const Reply reply = index < script.size() ? script[index] : Reply{};
            replies.push_back(reply);
            ++figures.requests[replyKind(reply)];
            if (!reply.delivers()) return;
            const json body = json::parse(request["body"].get<std::string>(), nullptr, false);
            if (body.is_discarded() || !body["subMessages"].is_array()) {
                ++figures.unsoundEvents;
                return;
            }
            const std::string device = body.value("device", "");
            const int run = std::atoi(device.substr(device.rfind('-') + 1).c_str());
            for (const json& event : body["subMessages"]) {
                if (!eventProblem(event).empty()) {
                    ++figures.unsoundEvents;
                    continue;
                }
                if (event["eventName"] != "soak") continue;  // the session openings
                const std::string eId = event["eId"];
                const auto found = accepted.find(eId);
                if (found == accepted.end()) {
                    // Accepted, then killed before the log line was written;
                    // a run that ended by itself logged every event.
                    if (copies[eId].empty()) ++figures.unlogged;
                    if (!runKilled[event["value"]["run"].get<int>()]) ++figures.unloggedUnexplained;
                } else if (event.dump() != found->second.text) {
                    ++figures.altered;
                    std::cerr << "altered: " << event.dump() << "\n";
                }
                copies[eId].push_back({index, run});
            }
        });

        for (const auto& [eId, list] : copies) {
            if (accepted.count(eId)) ++figures.delivered;
            figures.copies += static_cast<long long>(list.size());
            for (size_t k = 1; k < list.size(); ++k) {
                const Copy& earlier = list[k - 1];
                if (replies[earlier.request].delayMs >= CLIENT_TIMEOUT_MS) {
                    ++figures.duplicatesAfterTimeout;
                } else if (runKilled[earlier.run] && list[k].run != earlier.run) {
                    ++figures.duplicatesAfterKill;
                } else {
                    ++figures.duplicatesUnexplained;
                    std::cerr << "unexplained duplicate: " << eId << " in requests "
                              << earlier.request << " and " << list[k].request << "\n";
                }
            }
        }
        for (const auto& [eId, item] : accepted) {
            if (!copies.count(eId)) {
                ++figures.lost;
                std::cerr << "lost: " << item.text.substr(0, 200) << "\n";
            }
        }

        const auto saved = inspectSaveFolder(options.work + "/save");
        bool sound = saved.problems.empty() && saved.events.empty();
        if (!sound)
            std::cerr << "save folder: " << saved.problems << saved.events.size()
                      << " events left\n";
        sound = sound && figures.lost == 0 && figures.altered == 0 &&
                figures.duplicatesUnexplained == 0 && figures.unsoundEvents == 0 &&
                figures.unlogged <= figures.kills && figures.unloggedUnexplained == 0 &&
                figures.accepted >= options.events && figures.kills >= options.kills;
        return sound;
    }

    void printFigures(double seconds) {
        json report = {
            {"accepted", figures.accepted},
            {"delivered", figures.delivered},
            {"copiesDelivered", figures.copies},
            {"duplicates", figures.duplicatesAfterKill + figures.duplicatesAfterTimeout +
                               figures.duplicatesUnexplained},
            {"duplicatesAfterKill", figures.duplicatesAfterKill},
            {"duplicatesAfterTimeout", figures.duplicatesAfterTimeout},
            {"duplicatesUnexplained", figures.duplicatesUnexplained},
            {"lost", figures.lost},
            {"altered", figures.altered},
            {"refused", figures.refused},
            {"deliveredUnlogged", figures.unlogged},
            {"unsoundEvents", figures.unsoundEvents},
            {"runs", figures.runs},
            {"kills", figures.kills},
            {"gracefulRuns", figures.gracefulRuns},
            {"requests", figures.requests},
            {"seed", options.seed},
            {"seconds", static_cast<long long>(seconds)},
        };
        std::cout << report.dump(2) << std::endl;
        if (!options.report.empty()) std::ofstream(options.report) << report.dump(2) << "\n";
    }

    Options options;
    std::mt19937 random;
    std::vector<Reply> script;
    pid_t servicePid = -1;
    std::string proxyUrl;
    std::string caFile;
    int killed = 0;
    std::map<int, bool> runKilled;
    std::streamoff logOffset = 0;
    long long acceptedSoFar = 0;
    Figures figures;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--service") {
            options.service = value;
        } else if (name == "--host") {
            options.host = value;
        } else if (name == "--work") {
            options.work = value;
        } else if (name == "--report") {
            options.report = value;
        } else if (name == "--events") {
            options.events = std::stoll(value);
        } else if (name == "--kills") {
            options.kills = std::stoi(value);
        } else if (name == "--seed") {
            options.seed = static_cast<unsigned>(std::stoul(value));
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.service.empty() && !options.host.empty() &&
           !options.work.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (!parse(argc, argv, options)) {
            std::cerr << "usage: corvex-soak --service PATH --host PATH --work DIR [--events N] "
                         "[--kills K] [--seed S] [--report FILE]\n";
            return 2;
        }
        return Soak(options).run();
    } catch (const std::exception& error) {
        std::cerr << "corvex-soak: " << error.what() << "\n";
        return 2;
    }
}
