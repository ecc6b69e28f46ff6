#ifndef AGENT_BASE_POWER_MONITOR_POWER_OBSERVER_H_
#define AGENT_BASE_POWER_MONITOR_POWER_OBSERVER_H_

#include <cstdint>

namespace kelmbase {

// Told when the system suspends and resumes. Called on the sequence that
// registered it.
class PowerSuspendObserver {
 public:
  virtual void OnSuspend() = 0;
  virtual void OnResume() = 0;

 protected:
  virtual ~PowerSuspendObserver() = default;
};

// Told when the power source changes (battery or mains).
class PowerStateObserver {
 public:
  virtual void OnPowerStateChange(bool on_battery_power) = 0;

 protected:
  virtual ~PowerStateObserver() = default;
};

// Told when the thermal state changes.
class PowerThermalObserver {
 public:
  virtual void OnThermalStateChange(int32_t new_state) = 0;

 protected:
  virtual ~PowerThermalObserver() = default;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_POWER_MONITOR_POWER_OBSERVER_H_
