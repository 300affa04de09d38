// The console report, followed by a summary of the figures that matter: the
// Track call's percentiles, the ratios against the baselines measured in the
// same run, delivery rates, load time and heap, each beside its target.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace Corvex::Tracking::Bench {

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override;
    void Finalize() override;

private:
    // The run of a benchmark ("TrackCall/LevelStart/threads:1"), or null.
    const Run* find(const std::string& name) const;
    double counter(const std::string& name, const std::string& key) const;

    // Per benchmark: its single run, replaced by the median of its
    // repetitions when there are several.
    std::map<std::string, Run> runs;
    int repetitions = 1;
};

}  // namespace Corvex::Tracking::Bench
