#ifndef INTERNAL_CERTIFICATE_DEVICE_POLICY_H_
#define INTERNAL_CERTIFICATE_DEVICE_POLICY_H_

namespace vantorel {

// Whether this device plays audio only. Always true for this tool's devices.
bool IsAudioOnlyDevice();

// Whether records may carry personal data (certificate subjects). Nothing in
// this program turns it on.
bool IsPiiLoggingEnabled();

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_DEVICE_POLICY_H_
