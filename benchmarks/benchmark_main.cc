// The benchmark program: Google Benchmark's usual run, then one line per
// registered ratio pair (ratio.h).

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

// The console output, plus the mean real time per iteration of each
// benchmark, kept for the ratios.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Iteration) {
        Sum& sum = sums_[run.benchmark_name()];
        sum.total += run.GetAdjustedRealTime();
        ++sum.count;
      } else if (run.aggregate_name == "mean") {
        // Repetitions reported as aggregates only.
        means_[run.run_name.str()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The mean time per iteration of `name`, or a negative value if it did not
  // run.
  double MeanTime(const std::string& name) const {
    auto it = sums_.find(name);
    if (it != sums_.end() && it->second.count > 0)
      return it->second.total / it->second.count;
    auto mean = means_.find(name);
    return mean == means_.end() ? -1 : mean->second;
  }

 private:
  struct Sum {
    double total = 0;
    int count = 0;
  };
  std::map<std::string, Sum> sums_;
  std::map<std::string, double> means_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  for (const kelm_bench::RatioPair& pair : kelm_bench::RegisteredRatios()) {
    const double numerator = reporter.MeanTime(pair.numerator);
    const double denominator = reporter.MeanTime(pair.denominator);
    if (numerator < 0 || denominator <= 0) continue;
    printf("ratio %s: %.2f\n", pair.label.c_str(), numerator / denominator);
  }
  return 0;
}
