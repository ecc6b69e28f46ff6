#include "base/protobuf_flags.h"

#include <google/protobuf/arenaz_sampler.h>

#include "absl/base/internal/raw_logging.h"
#include "absl/flags/flag.h"

ABSL_FLAG(bool, pbarenaz_sample_enabled, true,
          "sample a fraction of the serialisation library's thread-safe "
          "arenas")
    .OnUpdate(base::OnArenazSampleEnabledUpdate);

ABSL_FLAG(int32_t, pbarenaz_sample_parameter, 1 << 10,
          "sample one thread-safe arena in this many, on average")
    .OnUpdate(base::OnArenazSampleParameterUpdate);

ABSL_FLAG(int32_t, pbarenaz_max_samples, 1 << 20,
          "most thread-safe arena samples kept at one time")
    .OnUpdate(base::OnArenazMaxSamplesUpdate);

namespace base {

void OnArenazSampleEnabledUpdate() {
  google::protobuf::internal::SetThreadSafeArenazEnabled(
      absl::GetFlag(FLAGS_pbarenaz_sample_enabled));
}

void OnArenazSampleParameterUpdate() {
  const int32_t rate = absl::GetFlag(FLAGS_pbarenaz_sample_parameter);
  if (rate <= 0) {
    ABSL_RAW_LOG(ERROR, "Invalid thread safe arenaz sample rate: %lld",
                 static_cast<long long>(rate));
    return;
  }
  google::protobuf::internal::SetThreadSafeArenazSampleParameter(rate);
}

void OnArenazMaxSamplesUpdate() {
  const int32_t max = absl::GetFlag(FLAGS_pbarenaz_max_samples);
  if (max <= 0) {
    ABSL_RAW_LOG(ERROR, "Invalid thread safe arenaz max samples: %lld",
                 static_cast<long long>(max));
    return;
  }
  google::protobuf::internal::SetThreadSafeArenazMaxSamples(max);
}

}  // namespace base
