#ifndef BASE_PLOVEXINIT_H_
#define BASE_PLOVEXINIT_H_

// Module initializers: named start-up functions that a source file declares
// with a static ModuleInitializer object. The framework's start-up routine
// would run them in dependency order; this program has no such routine, so
// they are only registered, by static initialisers, and never run.

#include <map>
#include <string>
#include <vector>

#include "absl/base/thread_annotations.h"
#include "absl/synchronization/mutex.h"

class ModuleInitializer {
 public:
  using InitFunction = void (*)();

  // Registers the initializer under (type, name). A second initializer with
  // the same type and name, or constructing this object twice, is fatal.
  // `type` and `name` must outlive the object (string literals).
  ModuleInitializer(const char* type, const char* name, InitFunction init);
  ModuleInitializer(const ModuleInitializer&) = delete;
  ModuleInitializer& operator=(const ModuleInitializer&) = delete;

  const char* type() const { return type_; }
  const char* name() const { return name_; }
  InitFunction init() const { return init_; }

 private:
  const char* type_;
  const char* name_;
  InitFunction init_;
  // Progress marks for a runner; nothing sets them here.
  [[maybe_unused]] bool running_;
  [[maybe_unused]] bool done_;
};

// Everything a registration knows about one initializer name.
struct InitializerData {
  const ModuleInitializer* initializer_obj = nullptr;
  // Dependency lists a runner would fill; empty here.
  std::vector<std::string> dependencies;
  std::vector<std::string> dependents;
  bool initializer_obj_constructed = false;
};

// The process-wide registry, by initializer type. Made on first use and kept
// until exit. Every access holds mutex().
class ModuleInitializerRegistry {
 public:
  class TypeTable {
   public:
    // Finds or makes the entry for `name` and records `init` in it. Fatal
    // when another initializer holds the name already; logged as an ERROR,
    // but done, when initializers of this type have executed.
    InitializerData* Add(const char* type, const char* name,
                         const ModuleInitializer* init);

    // For a runner: initializers of this type have executed.
    void MarkExecuted() { executed_ = true; }
    bool executed() const { return executed_; }

    const std::map<std::string, InitializerData>& initializers() const {
      return initializers_;
    }

   private:
    std::map<std::string, InitializerData> initializers_;
    bool executed_ = false;
    [[maybe_unused]] int reserved_ = 0;
  };

  static absl::Mutex& mutex();

  // Finds or makes the table of `type`.
  static TypeTable* GetType(const char* type)
      ABSL_EXCLUSIVE_LOCKS_REQUIRED(mutex());
};

#endif  // BASE_PLOVEXINIT_H_
