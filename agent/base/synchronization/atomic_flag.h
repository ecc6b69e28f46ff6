#ifndef AGENT_BASE_SYNCHRONIZATION_ATOMIC_FLAG_H_
#define AGENT_BASE_SYNCHRONIZATION_ATOMIC_FLAG_H_

#include <atomic>
#include <cstdint>

namespace kelmbase {

// A one-way flag that publishes: everything a thread wrote before Set() is
// visible to a thread that then sees IsSet() return true. Once set it stays
// set.
class AtomicFlag {
 public:
  AtomicFlag() = default;
  AtomicFlag(const AtomicFlag&) = delete;
  AtomicFlag& operator=(const AtomicFlag&) = delete;
  ~AtomicFlag() = default;

  // Sets the flag (release store).
  void Set() { flag_.store(1, std::memory_order_release); }
  // Whether the flag is set (acquire load).
  bool IsSet() const { return flag_.load(std::memory_order_acquire) != 0; }

 private:
  std::atomic<uint8_t> flag_{0};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_SYNCHRONIZATION_ATOMIC_FLAG_H_
