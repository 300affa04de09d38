#include "latency_recorder.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numeric>

namespace Corvex::Tracking::Bench {

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntilNs(int64_t monotonicNs) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(monotonicNs / 1000000000);
    until.tv_nsec = static_cast<long>(monotonicNs % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
    }
}

void LatencyRecorder::reserve(size_t count) {
    samples.reserve(samples.size() + count);
}

void LatencyRecorder::addAll(const std::vector<int64_t>& more) {
    samples.insert(samples.end(), more.begin(), more.end());
}

double LatencyRecorder::percentileUs(double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const auto rank =
        static_cast<size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    const size_t index = std::clamp<size_t>(rank, 1, samples.size()) - 1;
    return static_cast<double>(samples[index]) / 1000.0;
}

void LatencyRecorder::report(benchmark::State& state) {
    const double total = std::accumulate(samples.begin(), samples.end(), 0.0);
    state.counters["p50_us"] = percentileUs(0.50);
    state.counters["p99_us"] = percentileUs(0.99);
    state.counters["p99.9_us"] = percentileUs(0.999);
    state.counters["mean_us"] = samples.empty() ? 0 : total / 1000.0 / samples.size();
    state.counters["calls"] = static_cast<double>(samples.size());
}

void setMeanIterationTime(benchmark::State& state, int64_t totalNanoseconds, int64_t calls) {
    if (calls > 0) state.SetIterationTime(static_cast<double>(totalNanoseconds) / 1e9 / calls);
}

}  // namespace Corvex::Tracking::Bench
