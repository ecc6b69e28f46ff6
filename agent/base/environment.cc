#include "agent/base/environment.h"

#include <stdlib.h>

#include "agent/base/strings/string_util.h"

namespace kelmbase {
namespace {

// Looks up one exact name. Names arrive as views that need not end in a
// NUL, so they are copied before reaching the C library.
bool GetExactVar(const std::string& name, std::string* result) {
  const char* value = getenv(name.c_str());
  if (value == nullptr) return false;
  if (result != nullptr) *result = value;
  return true;
}

class EnvironmentImpl : public Environment {
 public:
  bool GetVar(StringPiece name, std::string* result) override {
    std::string exact = name.ToString();
    if (GetExactVar(exact, result)) return true;
    const char first = name[0];
    std::string alternate;
    if (first >= 'a' && first <= 'z') {
      alternate = AsciiToUpper(name);
    } else if (first >= 'A' && first <= 'Z') {
      alternate = AsciiToLower(name);
    } else {
      return false;
    }
    return GetExactVar(alternate, result);
  }

  bool SetVar(StringPiece name, const std::string& value) override {
    return setenv(name.ToString().c_str(), value.c_str(), 1) == 0;
  }

  bool UnsetVar(StringPiece name) override {
    return unsetenv(name.ToString().c_str()) == 0;
  }
};

}  // namespace

Environment::~Environment() = default;

std::unique_ptr<Environment> Environment::Create() {
  return std::make_unique<EnvironmentImpl>();
}

bool Environment::HasVar(StringPiece name) { return GetVar(name, nullptr); }

}  // namespace kelmbase
