// kelmbase::NumberToString(double) against the standard library's shortest
// std::to_chars and snprintf("%.17g"), on the same inputs. All three produce a
// std::string, as NumberToString must; BM_ToCharsBufferOnly shows what the
// string itself costs. Each runs over a mixed input set and over each kind of
// input on its own, so that the ratios show where time goes.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "agent/base/strings/string_number_conversions.h"
#include "benchmark/benchmark.h"
#include "benchmarks/ratio.h"

namespace {

enum InputSet {
  kMix,            // all of the sets below, interleaved
  kShortDecimals,  // "123.45", as JSON values and trace arguments mostly are
  kIntegral,       // "6789"
  kFullDigits,     // values in [0, 1) with 16-17 significant digits
  kAnyExponent,    // random bit patterns: any exponent, subnormals included
};

constexpr int kPerSet = 256;

std::vector<double> MakeInputs(InputSet set) {
  std::mt19937_64 random(42);
  std::uniform_int_distribution<int> small(1, 100000);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> values;
  for (int i = 0; i < kPerSet; ++i) {
    if (set == kMix || set == kShortDecimals)
      values.push_back(small(random) / 100.0);
    if (set == kMix || set == kIntegral)
      values.push_back(static_cast<double>(small(random)));
    if (set == kMix || set == kFullDigits) values.push_back(unit(random));
    if (set == kMix || set == kAnyExponent) {
      double value;
      do {
        const uint64_t bits = random();
        memcpy(&value, &bits, sizeof(value));
      } while (!std::isfinite(value));
      values.push_back(value);
    }
  }
  return values;
}

void BM_NumberToString(benchmark::State& state, InputSet set) {
  const std::vector<double> inputs = MakeInputs(set);
  size_t i = 0;
  for (auto _ : state) {
    std::string text = kelmbase::NumberToString(inputs[i]);
    benchmark::DoNotOptimize(text);
    if (++i == inputs.size()) i = 0;
  }
}

void BM_ToChars(benchmark::State& state, InputSet set) {
  const std::vector<double> inputs = MakeInputs(set);
  size_t i = 0;
  for (auto _ : state) {
    char buffer[32];
    std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof(buffer), inputs[i]);
    std::string text(buffer, result.ptr);
    benchmark::DoNotOptimize(text);
    if (++i == inputs.size()) i = 0;
  }
}

void BM_ToCharsBufferOnly(benchmark::State& state, InputSet set) {
  const std::vector<double> inputs = MakeInputs(set);
  size_t i = 0;
  for (auto _ : state) {
    char buffer[32];
    std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof(buffer), inputs[i]);
    benchmark::DoNotOptimize(result.ptr);
    benchmark::ClobberMemory();
    if (++i == inputs.size()) i = 0;
  }
}

void BM_SnprintfG17(benchmark::State& state, InputSet set) {
  const std::vector<double> inputs = MakeInputs(set);
  size_t i = 0;
  for (auto _ : state) {
    char buffer[32];
    int length = snprintf(buffer, sizeof(buffer), "%.17g", inputs[i]);
    std::string text(buffer, static_cast<size_t>(length));
    benchmark::DoNotOptimize(text);
    if (++i == inputs.size()) i = 0;
  }
}

BENCHMARK_CAPTURE(BM_NumberToString, mix, kMix);
BENCHMARK_CAPTURE(BM_ToChars, mix, kMix);
BENCHMARK_CAPTURE(BM_ToCharsBufferOnly, mix, kMix);
BENCHMARK_CAPTURE(BM_SnprintfG17, mix, kMix);
BENCHMARK_CAPTURE(BM_NumberToString, short_decimals, kShortDecimals);
BENCHMARK_CAPTURE(BM_ToChars, short_decimals, kShortDecimals);
BENCHMARK_CAPTURE(BM_NumberToString, integral, kIntegral);
BENCHMARK_CAPTURE(BM_ToChars, integral, kIntegral);
BENCHMARK_CAPTURE(BM_NumberToString, full_digits, kFullDigits);
BENCHMARK_CAPTURE(BM_ToChars, full_digits, kFullDigits);
BENCHMARK_CAPTURE(BM_NumberToString, any_exponent, kAnyExponent);
BENCHMARK_CAPTURE(BM_ToChars, any_exponent, kAnyExponent);

const kelm_bench::RatioRegistration kRatios[] = {
    {"NumberToString/to_chars", "BM_NumberToString/mix", "BM_ToChars/mix"},
    {"NumberToString/snprintf", "BM_NumberToString/mix", "BM_SnprintfG17/mix"},
    {"NumberToString/to_chars short_decimals",
     "BM_NumberToString/short_decimals", "BM_ToChars/short_decimals"},
    {"NumberToString/to_chars integral", "BM_NumberToString/integral",
     "BM_ToChars/integral"},
    {"NumberToString/to_chars full_digits", "BM_NumberToString/full_digits",
     "BM_ToChars/full_digits"},
    {"NumberToString/to_chars any_exponent", "BM_NumberToString/any_exponent",
     "BM_ToChars/any_exponent"},
};

}  // namespace
