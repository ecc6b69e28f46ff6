#ifndef BASE_PROTOBUF_FLAGS_H_
#define BASE_PROTOBUF_FLAGS_H_

#include <cstdint>

#include "absl/flags/declare.h"

// Flags of the serialisation library's thread-safe-arena sampler.
ABSL_DECLARE_FLAG(bool, pbarenaz_sample_enabled);
ABSL_DECLARE_FLAG(int32_t, pbarenaz_sample_parameter);
ABSL_DECLARE_FLAG(int32_t, pbarenaz_max_samples);

namespace base {

// The update hooks. The library's setters take any value, so the hooks
// refuse values <= 0 themselves with a raw ERROR naming the value, and hand
// the rest on.
void OnArenazSampleEnabledUpdate();
void OnArenazSampleParameterUpdate();
void OnArenazMaxSamplesUpdate();

}  // namespace base

#endif  // BASE_PROTOBUF_FLAGS_H_
