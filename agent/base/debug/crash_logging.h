#ifndef AGENT_BASE_DEBUG_CRASH_LOGGING_H_
#define AGENT_BASE_DEBUG_CRASH_LOGGING_H_

// Crash keys: named text values that an installed back end attaches to crash
// reports. No back end is installed in this program, so allocating a key
// returns null and setting one does nothing.

#include <cstddef>
#include <memory>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {
namespace debug {

// A key as the back end made it; its layout is the back end's.
struct CrashKeyString;

class CrashKeyImplementation {
 public:
  virtual ~CrashKeyImplementation() = default;
  virtual CrashKeyString* Allocate(const char* name, size_t value_size) = 0;
  virtual void Set(CrashKeyString* key, StringPiece value) = 0;
};

// Installs `implementation` for the process (null uninstalls) and returns the
// one it replaces. Meant for start-up, before keys are used.
std::unique_ptr<CrashKeyImplementation> SetCrashKeyImplementation(
    std::unique_ptr<CrashKeyImplementation> implementation);

// The back end's key for `name` with room for `value_size` bytes, or null
// when no back end is installed. Any thread.
CrashKeyString* AllocateCrashKey(const char* name, size_t value_size);

// Hands `value` to the back end; nothing without a back end or a key.
void SetCrashKeyValue(CrashKeyString* key, StringPiece value);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_CRASH_LOGGING_H_
