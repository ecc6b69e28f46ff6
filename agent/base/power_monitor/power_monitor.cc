#include "agent/base/power_monitor/power_monitor.h"

namespace kelmbase {

// static
PowerMonitor* PowerMonitor::GetInstance() {
  static PowerMonitor* const instance = new PowerMonitor();
  return instance;
}

PowerMonitor::PowerMonitor()
    : power_state_observers_(
          MakeRefCounted<ObserverListThreadSafe<PowerStateObserver>>()),
      power_suspend_observers_(
          MakeRefCounted<ObserverListThreadSafe<PowerSuspendObserver>>()),
      thermal_state_observers_(
          MakeRefCounted<ObserverListThreadSafe<PowerThermalObserver>>()) {}

void PowerMonitor::AddPowerSuspendObserver(PowerSuspendObserver* observer) {
  power_suspend_observers_->AddObserver(observer);
}

void PowerMonitor::RemovePowerSuspendObserver(PowerSuspendObserver* observer) {
  power_suspend_observers_->RemoveObserver(observer);
}

void PowerMonitor::AddPowerStateObserver(PowerStateObserver* observer) {
  power_state_observers_->AddObserver(observer);
}

void PowerMonitor::RemovePowerStateObserver(PowerStateObserver* observer) {
  power_state_observers_->RemoveObserver(observer);
}

void PowerMonitor::AddPowerThermalObserver(PowerThermalObserver* observer) {
  thermal_state_observers_->AddObserver(observer);
}

void PowerMonitor::RemovePowerThermalObserver(PowerThermalObserver* observer) {
  thermal_state_observers_->RemoveObserver(observer);
}

bool PowerMonitor::IsOnBatteryPower() {
  ScopedLock hold(on_battery_lock_);
  return on_battery_;
}

bool PowerMonitor::IsSystemSuspended() {
  ScopedLock hold(suspended_lock_);
  return system_suspended_;
}

int32_t PowerMonitor::GetCurrentThermalState() {
  ScopedLock hold(thermal_state_lock_);
  return thermal_state_;
}

}  // namespace kelmbase
