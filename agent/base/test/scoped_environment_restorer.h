#ifndef AGENT_BASE_TEST_SCOPED_ENVIRONMENT_RESTORER_H_
#define AGENT_BASE_TEST_SCOPED_ENVIRONMENT_RESTORER_H_

#include <stdlib.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelmbase {
namespace test {

// Remembers the values of some environment variables and puts them back,
// or removes the variables that were unset, when it goes out of scope, so a
// test may change them freely.
class ScopedEnvironmentRestorer {
 public:
  // `names`: any range of NUL-terminated variable names.
  template <typename Names>
  explicit ScopedEnvironmentRestorer(const Names& names) {
    for (const char* name : names) Save(name);
  }
  ScopedEnvironmentRestorer(std::initializer_list<const char*> names) {
    for (const char* name : names) Save(name);
  }
  ScopedEnvironmentRestorer(const ScopedEnvironmentRestorer&) = delete;
  ScopedEnvironmentRestorer& operator=(const ScopedEnvironmentRestorer&) =
      delete;

  ~ScopedEnvironmentRestorer() {
    for (const auto& [name, value] : saved_) {
      if (value.has_value()) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  void Save(const char* name) {
    const char* value = getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value)
                                    : std::nullopt);
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Sets one environment variable (or unsets it, given nullopt) for its scope,
// then restores what was there.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name,
                            const std::optional<std::string>& value)
      : restorer_({name}) {
    if (value.has_value()) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) =
      delete;

 private:
  ScopedEnvironmentRestorer restorer_;
};

}  // namespace test
}  // namespace kelmbase

#endif  // AGENT_BASE_TEST_SCOPED_ENVIRONMENT_RESTORER_H_
