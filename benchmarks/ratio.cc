#include "benchmarks/ratio.h"

namespace kelm_bench {
namespace {

std::vector<RatioPair>& MutableRatios() {
  static std::vector<RatioPair>* const ratios = new std::vector<RatioPair>();
  return *ratios;
}

}  // namespace

RatioRegistration::RatioRegistration(const char* label, const char* numerator,
                                     const char* denominator) {
  MutableRatios().push_back(RatioPair{label, numerator, denominator});
}

const std::vector<RatioPair>& RegisteredRatios() { return MutableRatios(); }

}  // namespace kelm_bench
