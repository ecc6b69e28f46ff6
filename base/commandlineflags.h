#ifndef BASE_COMMANDLINEFLAGS_H_
#define BASE_COMMANDLINEFLAGS_H_

// The V1 flag layer: flags declared the old way, as a pair of plain variables
// (current and default value) and a type name, wrapped in adapters that the
// Abseil flag registry lists and parses like any other flag.
//
// Registration happens in static initialisers before main; an adapter lives
// until the process ends. Every adapter guards its two variables with its own
// mutex: read or write them through the flag interface, not directly, once
// other threads exist.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "absl/base/thread_annotations.h"
#include "absl/flags/commandlineflag.h"
#include "absl/flags/internal/commandlineflag.h"
#include "absl/flags/internal/flag.h"
#include "absl/strings/string_view.h"
#include "absl/synchronization/mutex.h"

namespace base {

// The value type of a V1 flag whose type name is not one of the six known
// ones: one byte that can be made, copied and printed (as nothing) but never
// parsed.
struct UnknownType {
  char placeholder = 0;
};
bool AbslParseFlag(absl::string_view text, UnknownType* value,
                   std::string* error);
std::string AbslUnparseFlag(const UnknownType& value);

enum class V1FlagType { kBool, kInt32, kInt64, kUint64, kDouble, kString,
                        kUnknown };

// A validator, stored without its signature; see RegisterV1FlagValidator for
// the signatures by flag type.
using V1FlagValidator = void (*)();

class V1FlagState;

class CommandLineV1Flag final : public absl::CommandLineFlag {
 public:
  CommandLineV1Flag(const char* name, const char* type_name, V1FlagType type,
                    absl::flags_internal::FlagOpFn op, const char* help,
                    const char* file, void* current_value,
                    void* default_value);
  CommandLineV1Flag(const CommandLineV1Flag&) = delete;
  CommandLineV1Flag& operator=(const CommandLineV1Flag&) = delete;

  absl::string_view Name() const override;
  // The registering file, through the usage configuration's normaliser.
  std::string Filename() const override;
  std::string Help() const override;
  std::string CurrentValue() const override;
  std::string DefaultValue() const override;

  // Whether the value was ever changed by a parse or found different from the
  // default. (The flag interface of the linked Abseil has no such query.)
  bool IsModified() const;
  // IsModified(), or else whether the current value passes the validator.
  bool IsModifiedOrValid() const;

  // Stores `validator` unless a different one is set already (then a raw
  // WARNING, false). Setting the same one again succeeds.
  bool SetValidator(V1FlagValidator validator);

  V1FlagType type() const { return type_; }
  const void* current_value() const { return current_; }

 private:
  friend class V1FlagState;

  // Flag-interface operations the registry and the parser call.
  bool ParseFrom(absl::string_view text,
                 absl::flags_internal::FlagSettingMode mode,
                 absl::flags_internal::ValueSource source,
                 std::string& error) override;
  absl::flags_internal::FlagFastTypeId TypeId() const override;
  std::unique_ptr<absl::flags_internal::FlagStateInterface> SaveState()
      override;
  void Read(void* dst) const override;
  bool IsSpecifiedOnCommandLine() const override;
  bool ValidateInputValue(absl::string_view text) const override;
  void CheckDefaultValueParsingRoundtrip() const override {}

  // Parses `text` into a copy of `*variable`, validates it and on success
  // stores it in `*variable`. Sets `*error` on failure.
  bool ParseInto(absl::string_view text, void* variable, std::string* error)
      ABSL_EXCLUSIVE_LOCKS_REQUIRED(mu_);
  bool RunValidator(const void* value) const;
  bool ValuesEqual(const void* a, const void* b) const;
  bool SetValidatorLocked(V1FlagValidator validator)
      ABSL_EXCLUSIVE_LOCKS_REQUIRED(mu_);

  const char* const name_;
  const char* const type_name_;
  const V1FlagType type_;
  const absl::flags_internal::FlagOpFn op_;
  const char* const help_;
  const char* const file_;
  void* const current_;
  void* const default_;

  mutable absl::Mutex mu_;
  bool modified_ ABSL_GUARDED_BY(mu_) = false;
  bool on_command_line_ ABSL_GUARDED_BY(mu_) = false;
  int64_t counter_ ABSL_GUARDED_BY(mu_) = 0;
  V1FlagValidator validator_ ABSL_GUARDED_BY(mu_) = nullptr;
};

// A saved value and state of a V1 flag, restored by Restore().
class V1FlagState final : public absl::flags_internal::FlagStateInterface {
 public:
  V1FlagState(CommandLineV1Flag* flag, int64_t counter,
              V1FlagValidator validator, bool modified, bool on_command_line,
              void* value);
  ~V1FlagState() override;

  void Restore() const override;

 private:
  CommandLineV1Flag* const flag_;
  const int64_t counter_;
  const V1FlagValidator validator_;
  const bool modified_;
  const bool on_command_line_;
  void* const value_;  // Owned; made and freed through the flag's type ops.
};

// Every V1 flag, filed by the address of its current-value variable. Made on
// the first registration and never freed. Any thread.
class V1FlagTable {
 public:
  static constexpr size_t kBuckets = 163;

  static V1FlagTable& Get();

  void Add(CommandLineV1Flag* flag);
  // The flag whose current-value variable is `current_value`, or null.
  CommandLineV1Flag* Find(const void* current_value) const;
  // The flags filed in the bucket of `current_value`, in registration order.
  std::vector<CommandLineV1Flag*> BucketOf(const void* current_value) const;

 private:
  V1FlagTable() = default;
  static size_t BucketIndex(const void* current_value);

  mutable absl::Mutex mu_;
  std::vector<CommandLineV1Flag*> buckets_[kBuckets] ABSL_GUARDED_BY(mu_);
};

// Registers one V1 flag. `type_name` counts from after its last ':';
// "bool", "int32", "int64", "uint64", "double" and "string" stand for bool,
// int32_t, int64_t, uint64_t, double and std::string variables. Any other
// name is logged as an ERROR and the flag holds an UnknownType. `help` may be
// null. Returns the adapter, which lives until the process ends.
CommandLineV1Flag* RegisterV1Flag(const char* name, const char* type_name,
                                  const char* help, const char* file,
                                  void* current_value, void* default_value);

// Attaches a validator to the V1 flag whose current-value variable is `flag`.
// False when no such flag exists or another validator is set already.
bool RegisterV1FlagValidator(const bool* flag,
                             bool (*validator)(const char*, bool));
bool RegisterV1FlagValidator(const int32_t* flag,
                             bool (*validator)(const char*, int32_t));
bool RegisterV1FlagValidator(const int64_t* flag,
                             bool (*validator)(const char*, int64_t));
bool RegisterV1FlagValidator(const uint64_t* flag,
                             bool (*validator)(const char*, int64_t));
bool RegisterV1FlagValidator(const double* flag,
                             bool (*validator)(const char*, double));
bool RegisterV1FlagValidator(const std::string* flag,
                             bool (*validator)(const char*,
                                               const std::string&));

}  // namespace base

#endif  // BASE_COMMANDLINEFLAGS_H_
