#ifndef AGENT_BASE_POWER_MONITOR_POWER_MONITOR_H_
#define AGENT_BASE_POWER_MONITOR_POWER_MONITOR_H_

#include <cstdint>

#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/observer_list_threadsafe.h"
#include "agent/base/power_monitor/power_observer.h"
#include "agent/base/synchronization/lock.h"

namespace kelmbase {

// The process-wide hub for power-state, suspend/resume and thermal events.
// This program has no power source, so nothing is ever sent; the monitor
// keeps the registrations. Observers are called on the sequence that added
// them.
//
// Threads: any. Add needs a sequenced context on the calling thread.
// Lifetime: made on first use, never destroyed.
class PowerMonitor {
 public:
  static PowerMonitor* GetInstance();

  PowerMonitor(const PowerMonitor&) = delete;
  PowerMonitor& operator=(const PowerMonitor&) = delete;

  void AddPowerSuspendObserver(PowerSuspendObserver* observer);
  void RemovePowerSuspendObserver(PowerSuspendObserver* observer);
  void AddPowerStateObserver(PowerStateObserver* observer);
  void RemovePowerStateObserver(PowerStateObserver* observer);
  void AddPowerThermalObserver(PowerThermalObserver* observer);
  void RemovePowerThermalObserver(PowerThermalObserver* observer);

  bool IsOnBatteryPower();
  bool IsSystemSuspended();
  int32_t GetCurrentThermalState();

 private:
  PowerMonitor();
  ~PowerMonitor() = delete;

  Lock on_battery_lock_;
  bool on_battery_ = false;
  Lock suspended_lock_;
  bool system_suspended_ = false;
  Lock thermal_state_lock_;
  int32_t thermal_state_ = 0;
  const scoped_refptr<ObserverListThreadSafe<PowerStateObserver>>
      power_state_observers_;
  const scoped_refptr<ObserverListThreadSafe<PowerSuspendObserver>>
      power_suspend_observers_;
  const scoped_refptr<ObserverListThreadSafe<PowerThermalObserver>>
      thermal_state_observers_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_POWER_MONITOR_POWER_MONITOR_H_
