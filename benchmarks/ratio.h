#ifndef BENCHMARKS_RATIO_H_
#define BENCHMARKS_RATIO_H_

#include <string>
#include <vector>

namespace kelm_bench {

// A pair of benchmarks whose time ratio the benchmark program prints after
// the run as "ratio <label>: X.XX" (numerator's real time per iteration over
// the denominator's). Benchmark names are the full run names, such as
// "BM_NumberToString". A pair with either side filtered out is skipped.
struct RatioPair {
  std::string label;
  std::string numerator;
  std::string denominator;
};

// Registers a pair; use at namespace scope:
//   const kelm_bench::RatioRegistration kRatio("a/b", "BM_A", "BM_B");
class RatioRegistration {
 public:
  RatioRegistration(const char* label, const char* numerator,
                    const char* denominator);
};

// Every registered pair, in registration order.
const std::vector<RatioPair>& RegisteredRatios();

}  // namespace kelm_bench

#endif  // BENCHMARKS_RATIO_H_
