// Flags of Abseil's hash-table sampler. The sampler's setters refuse
// out-of-range values themselves, with their own raw ERROR records.

#include <cstdint>

#include "absl/container/internal/hashtablez_sampler.h"
#include "absl/flags/flag.h"

ABSL_FLAG(bool, hashtablez_sample_enabled, true,
          "sample a fraction of the process's hash tables")
    .OnUpdate([] {
      absl::container_internal::SetHashtablezEnabled(
          absl::GetFlag(FLAGS_hashtablez_sample_enabled));
    });

ABSL_FLAG(int32_t, hashtablez_sample_parameter, 1 << 10,
          "sample one hash table in this many, on average")
    .OnUpdate([] {
      absl::container_internal::SetHashtablezSampleParameter(
          absl::GetFlag(FLAGS_hashtablez_sample_parameter));
    });

ABSL_FLAG(int32_t, hashtablez_max_samples, 1 << 20,
          "most hash-table samples kept at one time")
    .OnUpdate([] {
      absl::container_internal::SetHashtablezMaxSamples(
          absl::GetFlag(FLAGS_hashtablez_max_samples));
    });
