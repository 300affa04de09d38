// The host-thread time of each measured call, and its percentiles as the
// benchmark's counters.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace Corvex::Tracking::Bench {

// Nanoseconds on the monotonic clock.
int64_t nowNs();
// Sleeps until the monotonic clock reads the given nanoseconds.
void sleepUntilNs(int64_t monotonicNs);

class LatencyRecorder {
public:
    // Makes room so that adding samples allocates nothing while calls are
    // being timed.
    void reserve(size_t count);
    void add(int64_t nanoseconds) { samples.push_back(nanoseconds); }
    void addAll(const std::vector<int64_t>& more);
    size_t size() const { return samples.size(); }

    // Sets the counters p50_us, p99_us, p99.9_us, mean_us and calls.
    void report(benchmark::State& state);
    // The nearest-rank percentile of the samples so far, in microseconds.
    double percentileUs(double fraction);

private:
    std::vector<int64_t> samples;
};

// Sets the state's manual time of one iteration from the sum of its calls'
// times and their number, so that the reported time is the mean per call.
void setMeanIterationTime(benchmark::State& state, int64_t totalNanoseconds, int64_t calls);

}  // namespace Corvex::Tracking::Bench
