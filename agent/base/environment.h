#ifndef AGENT_BASE_ENVIRONMENT_H_
#define AGENT_BASE_ENVIRONMENT_H_

#include <memory>
#include <string>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// The process environment. A lookup that misses retries the name in the
// other letter case: a name starting with a-z is retried all upper case, one
// starting with A-Z all lower case, any other name is not retried.
class Environment {
 public:
  virtual ~Environment();

  // An environment over the process's own variables.
  static std::unique_ptr<Environment> Create();

  // Stores the value of `name` in `result` (when not null) and returns true
  // when the variable, or its case-swapped retry, is set. `name` must not be
  // empty.
  virtual bool GetVar(StringPiece name, std::string* result) = 0;

  // Whether GetVar would find `name`.
  virtual bool HasVar(StringPiece name);

  // Sets `name` to `value`, replacing any earlier value.
  virtual bool SetVar(StringPiece name, const std::string& value) = 0;

  // Removes `name` from the environment.
  virtual bool UnsetVar(StringPiece name) = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_ENVIRONMENT_H_
