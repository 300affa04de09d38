// The benchmark program: every group in a fixed order, reported to the
// console with a closing summary (and to --benchmark_out as usual).
#include <benchmark/benchmark.h>

#include "benchmarks.h"
#include "summary_reporter.h"

int main(int argc, char** argv) {
    using namespace Corvex::Tracking::Bench;
    registerBaselineBenchmarks();
    registerTrackCallBenchmarks();
    registerDeliveryBenchmarks();
    registerQueueBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
