#include "summary_reporter.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace Corvex::Tracking::Bench {

namespace {

std::string keyOf(const benchmark::BenchmarkReporter::Run& run) {
    const auto& name = run.run_name;
    return name.args.empty() ? name.function_name : name.function_name + "/" + name.args;
}

const char* verdict(bool met) {
    return met ? "met" : "NOT met";
}

}  // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& reports) {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        if (run.error_occurred) continue;
        if (run.run_type == Run::RT_Iteration) {
            // A lone run stands for its benchmark until a median replaces it.
            if (runs.count(keyOf(run)) == 0 || run.repetitions <= 1) runs[keyOf(run)] = run;
        } else if (run.aggregate_name == "median") {
            runs[keyOf(run)] = run;
            repetitions = static_cast<int>(run.repetitions);
        }
    }
}

const benchmark::BenchmarkReporter::Run* SummaryReporter::find(const std::string& name) const {
    const auto it = runs.find(name);
    return it == runs.end() ? nullptr : &it->second;
}

double SummaryReporter::counter(const std::string& name, const std::string& key) const {
    const Run* run = find(name);
    if (run == nullptr) return NAN;
    const auto it = run->counters.find(key);
    return it == run->counters.end() ? NAN : it->second.value;
}

void SummaryReporter::Finalize() {
    std::ostream& out = GetOutputStream();
    out << "\nSummary";
    if (repetitions > 1) out << " (medians of " << repetitions << " repetitions)";
    out << "\n\nHost-thread time of one Track call, worker not sending (us)\n";
    char header[160];
    std::snprintf(header, sizeof header, "  %-32s %8s %8s %8s %8s %12s %8s\n", "", "p50", "p99",
                  "p99.9", "mean", "allocs/call", "refused");
    out << header;
    for (const char* kind : {"LevelStart", "Purchase", "CustomJson"}) {
        for (const char* threads : {"threads:1", "threads:2", "threads:4"}) {
            const std::string name = std::string("TrackCall/") + kind + "/" + threads;
            if (find(name) == nullptr) continue;
            char line[200];
            std::snprintf(line, sizeof line, "  %-32s %8.2f %8.2f %8.2f %8.2f %12.2f %8.0f\n",
                          (std::string(kind) + " " + threads).c_str(), counter(name, "p50_us"),
                          counter(name, "p99_us"), counter(name, "p99.9_us"),
                          counter(name, "mean_us"), counter(name, "allocs_per_call"),
                          counter(name, "refused"));
            out << line;
        }
    }

    out << "\nPaced at 1000 calls per second, worker delivering (us)\n";
    for (const char* kind : {"LevelStart", "Purchase", "CustomJson"}) {
        const std::string name = std::string("TrackPaced/") + kind;
        if (find(name) == nullptr) continue;
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s %8.2f %8.2f %8.2f %8.2f %12s %8.0f\n", kind,
                      counter(name, "p50_us"), counter(name, "p99_us"), counter(name, "p99.9_us"),
                      counter(name, "mean_us"), "", counter(name, "refused"));
        out << line;
    }

    out << "\nBaselines per event, same event text (us)\n";
    const struct {
        const char* name;
        const char* label;
    } baselines[] = {{"Baseline/RingWrites", "two pwrite() (the format's floor)"},
                     {"Baseline/RingWritesFreshFile", "two pwrite(), file made anew"},
                     {"Baseline/Write", "one write()"},
                     {"Baseline/WritePaced", "one write() per ms (paced floor)"},
                     {"Baseline/SQLiteWal", "SQLite WAL, synchronous=NORMAL"},
                     {"Baseline/SQLiteDefaultJournal", "SQLite default journal"}};
    for (const auto& baseline : baselines) {
        if (find(baseline.name) == nullptr) continue;
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s %8.2f %8.2f %8.2f %8.2f\n", baseline.label,
                      counter(baseline.name, "p50_us"), counter(baseline.name, "p99_us"),
                      counter(baseline.name, "p99.9_us"), counter(baseline.name, "mean_us"));
        out << line;
    }
    if (const Run* text = find("EventText")) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s %35.2f\n", "making the event text (mean)",
                      text->GetAdjustedRealTime());
        out << line;
    }

    const std::string typed = "TrackCall/LevelStart/threads:1";
    const double trackMean = counter(typed, "mean_us");
    const double trackP50 = counter(typed, "p50_us");
    out << "\nRatios, LevelStart from one thread (baseline / Track call)\n";
    const std::string pacedFloor = "Baseline/WritePaced";
    for (const auto& baseline : baselines) {
        if (baseline.name == pacedFloor) continue;
        if (find(baseline.name) == nullptr || find(typed) == nullptr) continue;
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s mean %7.2fx   p50 %7.2fx\n", baseline.label,
                      counter(baseline.name, "mean_us") / trackMean,
                      counter(baseline.name, "p50_us") / trackP50);
        out << line;
    }

    if (find(pacedFloor) != nullptr && find("TrackPaced/LevelStart") != nullptr) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s p50 %7.2fx\n", "paced Track call / paced write()",
                      counter("TrackPaced/LevelStart", "p50_us") / counter(pacedFloor, "p50_us"));
        out << line;
    }

    const std::string paired = "TrackVsFloor/LevelStart";
    if (find(paired) != nullptr) {
        out << "\nPaired rounds: LevelStart from one thread, each round right after one of "
               "each floor (us)\n";
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s %8.2f %8.2f\n", "Track call",
                      counter(paired, "p50_us"), counter(paired, "p99_us"));
        out << line;
        std::snprintf(line, sizeof line, "  %-32s %8.2f %8.2f\n",
                      "two pwrite() (the format's floor)", counter(paired, "floor_p50_us"),
                      counter(paired, "floor_p99_us"));
        out << line;
        std::snprintf(line, sizeof line, "  %-32s %8s %8.2f\n", "two pwrite(), file made anew", "",
                      counter(paired, "fresh_floor_p99_us"));
        out << line;
        std::snprintf(line, sizeof line, "  %-32s %7.2fx %7.2fx\n", "Track call / floor",
                      counter(paired, "p50_over_floor"), counter(paired, "p99_over_floor"));
        out << line;
        std::snprintf(line, sizeof line, "  %-32s %8s %7.2fx\n", "Track call / fresh-file floor",
                      "", counter(paired, "p99_over_fresh_floor"));
        out << line;
    }

    out << "\nDelivery to the local service over HTTPS (events per second)\n";
    for (const char* plan : {"defaults/full_queue", "interval1_send1000/full_queue",
                             "interval1_send1000/offered:300000"}) {
        const std::string name = std::string("Delivery/") + plan;
        if (find(name) == nullptr) continue;
        char line[240];
        std::snprintf(line, sizeof line,
                      "  %-34s delivered %9.0f  accepted %9.0f  refused %7.0f  backlog %4.0f -> "
                      "%4.0f  connections %2.0f\n",
                      plan, counter(name, "delivered_per_s"), counter(name, "accepted_per_s"),
                      counter(name, "refused"), counter(name, "backlog_start"),
                      counter(name, "backlog_end"), counter(name, "connections"));
        out << line;
    }

    const Run* empty = find("CreateManager/saved:0");
    const Run* full = find("CreateManager/saved:1000");
    if (empty != nullptr && full != nullptr) {
        out << "\nCreating a manager (ms)\n";
        char line[200];
        std::snprintf(line, sizeof line,
                      "  empty queue %.3f   1000 saved events %.3f   loading them %.3f\n",
                      empty->GetAdjustedRealTime(), full->GetAdjustedRealTime(),
                      full->GetAdjustedRealTime() - empty->GetAdjustedRealTime());
        out << line;
    }

    out << "\nHeap per queued event with 1000 waiting (bytes)\n";
    for (const char* kind : {"LevelStart", "Purchase", "CustomJson"}) {
        const std::string name = std::string("HeapPerQueuedEvent/") + kind;
        if (find(name) == nullptr) continue;
        char line[200];
        std::snprintf(line, sizeof line, "  %-32s requested %6.0f   kept by malloc %6.0f\n", kind,
                      counter(name, "bytes_per_event"), counter(name, "malloc_bytes_per_event"));
        out << line;
    }

    out << "\nTargets (one calling thread, saving on)\n";
    const auto target = [&](const char* what, double value, const char* unit, double limit,
                            bool atMost) {
        if (std::isnan(value)) return;
        char line[200];
        std::snprintf(line, sizeof line, "  %-44s %10.2f %-4s (%s %g): %s\n", what, value, unit,
                      atMost ? "at most" : "at least", limit,
                      verdict(atMost ? value <= limit : value >= limit));
        out << line;
    };
    // From the paired rounds, which the machine's drift affects least.
    target("typed Track call p50 / two pwrite() p50", counter(paired, "p50_over_floor"), "x", 1.5,
           true);
    target("typed Track call p99 / two pwrite() p99", counter(paired, "p99_over_floor"), "x", 2,
           true);
    target("SQLite WAL p50 / typed Track call p50",
           counter("Baseline/SQLiteWal", "p50_us") / trackP50, "x", 4, false);
    // The list of waiting events takes a block every 64 events: 0.016.
    target("allocations per warm typed Track call", counter(typed, "allocs_per_call"), "", 0.02,
           true);
    target("delivered, interval 1 ms and batches of 1000",
           counter("Delivery/interval1_send1000/offered:300000", "delivered_per_s"), "ev/s", 300000,
           false);
    if (empty != nullptr && full != nullptr) {
        target("loading 1000 saved events",
               full->GetAdjustedRealTime() - empty->GetAdjustedRealTime(), "ms", 3, true);
    }
    target("heap per queued event", counter("HeapPerQueuedEvent/LevelStart", "bytes_per_event"),
           "B", 1024, true);
    ConsoleReporter::Finalize();
}

}  // namespace Corvex::Tracking::Bench
