#include "base/commandlineflags.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "absl/base/internal/raw_logging.h"
#include "absl/flags/internal/registry.h"
#include "absl/flags/usage_config.h"
#include "logging/log.h"

namespace base {
namespace {

namespace fi = absl::flags_internal;

struct KnownType {
  const char* name;
  V1FlagType type;
  fi::FlagOpFn op;
};

constexpr KnownType kKnownTypes[] = {
    {"bool", V1FlagType::kBool, &fi::FlagOps<bool>},
    {"int32", V1FlagType::kInt32, &fi::FlagOps<int32_t>},
    {"int64", V1FlagType::kInt64, &fi::FlagOps<int64_t>},
    {"uint64", V1FlagType::kUint64, &fi::FlagOps<uint64_t>},
    {"double", V1FlagType::kDouble, &fi::FlagOps<double>},
    {"string", V1FlagType::kString, &fi::FlagOps<std::string>},
};

// A temporary value of a flag's type, freed on every path.
class ScopedValue {
 public:
  ScopedValue(fi::FlagOpFn op, const void* from)
      : op_(op), value_(fi::Clone(op, from)) {}
  ~ScopedValue() { fi::Delete(op_, value_); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;
  void* get() const { return value_; }

 private:
  fi::FlagOpFn op_;
  void* value_;
};

template <typename T>
V1FlagValidator Erase(bool (*validator)(const char*, T)) {
  return reinterpret_cast<V1FlagValidator>(validator);
}

template <typename T>
bool Call(V1FlagValidator validator, const char* name, T value) {
  return reinterpret_cast<bool (*)(const char*, T)>(validator)(name, value);
}

}  // namespace

bool AbslParseFlag(absl::string_view, UnknownType*, std::string*) {
  return false;
}

std::string AbslUnparseFlag(const UnknownType&) { return std::string(); }

CommandLineV1Flag::CommandLineV1Flag(const char* name, const char* type_name,
                                     V1FlagType type, fi::FlagOpFn op,
                                     const char* help, const char* file,
                                     void* current_value, void* default_value)
    : name_(name),
      type_name_(type_name),
      type_(type),
      op_(op),
      help_(help != nullptr ? help : ""),
      file_(file),
      current_(current_value),
      default_(default_value) {}

absl::string_view CommandLineV1Flag::Name() const { return name_; }

std::string CommandLineV1Flag::Filename() const {
  return absl::flags_internal::GetUsageConfig().normalize_filename(file_);
}

std::string CommandLineV1Flag::Help() const { return help_; }

std::string CommandLineV1Flag::CurrentValue() const {
  absl::MutexLock lock(&mu_);
  return fi::Unparse(op_, current_);
}

std::string CommandLineV1Flag::DefaultValue() const {
  absl::MutexLock lock(&mu_);
  return fi::Unparse(op_, default_);
}

bool CommandLineV1Flag::IsModified() const {
  absl::MutexLock lock(&mu_);
  return modified_;
}

bool CommandLineV1Flag::IsModifiedOrValid() const {
  absl::MutexLock lock(&mu_);
  return modified_ || RunValidator(current_);
}

bool CommandLineV1Flag::SetValidator(V1FlagValidator validator) {
  absl::MutexLock lock(&mu_);
  return SetValidatorLocked(validator);
}

bool CommandLineV1Flag::SetValidatorLocked(V1FlagValidator validator) {
  if (validator == validator_) return true;
  if (validator_ != nullptr) {
    ABSL_RAW_LOG(WARNING,
                 "Ignoring SetValidator() for flag '%s': validate-fn already "
                 "registered",
                 name_);
    return false;
  }
  ++counter_;
  validator_ = validator;
  return true;
}

bool CommandLineV1Flag::ParseFrom(absl::string_view text,
                                  fi::FlagSettingMode mode,
                                  fi::ValueSource source, std::string& error) {
  absl::MutexLock lock(&mu_);
  if (!modified_ && !ValuesEqual(current_, default_)) modified_ = true;
  switch (mode) {
    case fi::SET_FLAGS_DEFAULT: {
      const bool parsed = ParseInto(text, default_, &error);
      if (parsed && !modified_) fi::Copy(op_, default_, current_);
      return parsed;
    }
    case fi::SET_FLAG_IF_DEFAULT:
      if (modified_) return true;
      if (!ParseInto(text, current_, &error)) return false;
      modified_ = true;
      return true;
    case fi::SET_FLAGS_VALUE:
      if (!ParseInto(text, current_, &error)) return false;
      modified_ = true;
      if (source == fi::kCommandLine) on_command_line_ = true;
      return true;
  }
  return true;
}

bool CommandLineV1Flag::ParseInto(absl::string_view text, void* variable,
                                  std::string* error) {
  ScopedValue parsed(op_, variable);
  std::string parse_error;
  if (!fi::Parse(op_, text, parsed.get(), &parse_error)) {
    *error = "Illegal value '";
    error->append(text.data(), text.size());
    error->append("' specified for ");
    if (type_ != V1FlagType::kUnknown) {
      error->append(type_name_);
      error->append(" ");
    }
    error->append("flag '");
    error->append(name_);
    error->append("'");
    if (!parse_error.empty()) {
      error->append(": ");
      error->append(parse_error);
    }
    return false;
  }
  if (!RunValidator(parsed.get())) {
    *error = "Failed validation of new value '" +
             fi::Unparse(op_, parsed.get()) + "' for flag '" + name_ + "'";
    return false;
  }
  ++counter_;
  fi::Copy(op_, parsed.get(), variable);
  return true;
}

bool CommandLineV1Flag::RunValidator(const void* value) const {
  // Called with mu_ held by every caller; reads validator_ under it.
  V1FlagValidator validator = validator_;
  if (validator == nullptr) return true;
  switch (type_) {
    case V1FlagType::kBool:
      return Call(validator, name_, *static_cast<const bool*>(value));
    case V1FlagType::kInt32:
      return Call(validator, name_, *static_cast<const int32_t*>(value));
    case V1FlagType::kInt64:
    case V1FlagType::kUint64:
      // A uint64 flag's validator sees the same 64 bits as an int64.
      return Call(validator, name_, *static_cast<const int64_t*>(value));
    case V1FlagType::kDouble:
      return Call(validator, name_, *static_cast<const double*>(value));
    case V1FlagType::kString:
      return Call<const std::string&>(validator, name_,
                                      *static_cast<const std::string*>(value));
    case V1FlagType::kUnknown:
      break;
  }
  ABSL_RAW_LOG(FATAL, "Flag '%s' of encapsulated type should not have a validator",
               name_);
  return false;
}

bool CommandLineV1Flag::ValuesEqual(const void* a, const void* b) const {
  switch (type_) {
    case V1FlagType::kBool:
    case V1FlagType::kUnknown:
      return *static_cast<const char*>(a) == *static_cast<const char*>(b);
    case V1FlagType::kInt32:
      return *static_cast<const int32_t*>(a) == *static_cast<const int32_t*>(b);
    case V1FlagType::kInt64:
    case V1FlagType::kUint64:
      return *static_cast<const uint64_t*>(a) ==
             *static_cast<const uint64_t*>(b);
    case V1FlagType::kDouble:
      return *static_cast<const double*>(a) == *static_cast<const double*>(b);
    case V1FlagType::kString:
      return *static_cast<const std::string*>(a) ==
             *static_cast<const std::string*>(b);
  }
  return false;
}

fi::FlagFastTypeId CommandLineV1Flag::TypeId() const {
  return fi::FastTypeId(op_);
}

std::unique_ptr<fi::FlagStateInterface> CommandLineV1Flag::SaveState() {
  absl::MutexLock lock(&mu_);
  return std::make_unique<V1FlagState>(this, counter_, validator_, modified_,
                                       on_command_line_,
                                       fi::Clone(op_, current_));
}

void CommandLineV1Flag::Read(void* dst) const {
  absl::MutexLock lock(&mu_);
  fi::CopyConstruct(op_, current_, dst);
}

bool CommandLineV1Flag::IsSpecifiedOnCommandLine() const {
  absl::MutexLock lock(&mu_);
  return on_command_line_;
}

bool CommandLineV1Flag::ValidateInputValue(absl::string_view text) const {
  absl::MutexLock lock(&mu_);
  ScopedValue parsed(op_, current_);
  std::string error;
  if (!fi::Parse(op_, text, parsed.get(), &error)) return false;
  return RunValidator(parsed.get());
}

V1FlagState::V1FlagState(CommandLineV1Flag* flag, int64_t counter,
                         V1FlagValidator validator, bool modified,
                         bool on_command_line, void* value)
    : flag_(flag),
      counter_(counter),
      validator_(validator),
      modified_(modified),
      on_command_line_(on_command_line),
      value_(value) {}

V1FlagState::~V1FlagState() { fi::Delete(flag_->op_, value_); }

void V1FlagState::Restore() const {
  CommandLineV1Flag& flag = *flag_;
  absl::MutexLock lock(&flag.mu_);
  flag.modified_ = modified_;
  flag.on_command_line_ = on_command_line_;
  if (flag.counter_ == counter_ && flag.ValuesEqual(value_, flag.current_)) {
    return;
  }
  fi::Copy(flag.op_, value_, flag.current_);
  ++flag.counter_;
  flag.SetValidatorLocked(validator_);
  const std::string value = fi::Unparse(flag.op_, flag.current_);
  ScopedValue check(flag.op_, flag.current_);
  std::string error;
  if (!fi::Parse(flag.op_, value, check.get(), &error) ||
      !flag.RunValidator(check.get())) {
    LOG(WARNING) << "Saved value " << value
                 << " did not pass validation for flag " << flag.name_;
  }
  LOG(INFO) << "Restore saved value of " << flag.name_ << " to: " << value;
}

V1FlagTable& V1FlagTable::Get() {
  static V1FlagTable* const table = new V1FlagTable();
  return *table;
}

size_t V1FlagTable::BucketIndex(const void* current_value) {
  return reinterpret_cast<uintptr_t>(current_value) % kBuckets;
}

void V1FlagTable::Add(CommandLineV1Flag* flag) {
  absl::MutexLock lock(&mu_);
  std::vector<CommandLineV1Flag*>& bucket =
      buckets_[BucketIndex(flag->current_value())];
  if (bucket.size() == bucket.capacity()) {
    // Buckets stay short; grow them gently instead of doubling.
    const size_t grown =
        static_cast<size_t>(std::floor(bucket.size() * 1.25 + 0.5));
    if (grown > bucket.size()) bucket.reserve(grown);
  }
  bucket.push_back(flag);
}

CommandLineV1Flag* V1FlagTable::Find(const void* current_value) const {
  absl::MutexLock lock(&mu_);
  for (CommandLineV1Flag* flag : buckets_[BucketIndex(current_value)]) {
    if (flag->current_value() == current_value) return flag;
  }
  return nullptr;
}

std::vector<CommandLineV1Flag*> V1FlagTable::BucketOf(
    const void* current_value) const {
  absl::MutexLock lock(&mu_);
  return buckets_[BucketIndex(current_value)];
}

CommandLineV1Flag* RegisterV1Flag(const char* name, const char* type_name,
                                  const char* help, const char* file,
                                  void* current_value, void* default_value) {
  if (const char* colon = strrchr(type_name, ':')) type_name = colon + 1;
  const KnownType* known = nullptr;
  for (const KnownType& candidate : kKnownTypes) {
    if (strcmp(candidate.name, type_name) == 0) known = &candidate;
  }
  if (known == nullptr) {
    LOG(ERROR) << "Unknown flag type '" << type_name << "'";
  }
  auto* flag = new CommandLineV1Flag(
      name, type_name, known ? known->type : V1FlagType::kUnknown,
      known ? known->op : &fi::FlagOps<UnknownType>, help, file,
      current_value, default_value);
  fi::RegisterCommandLineFlag(*flag, file);
  V1FlagTable::Get().Add(flag);
  return flag;
}

namespace {

template <typename T>
bool AttachValidator(const void* flag, bool (*validator)(const char*, T)) {
  CommandLineV1Flag* adapter = V1FlagTable::Get().Find(flag);
  if (adapter == nullptr) return false;
  return adapter->SetValidator(Erase(validator));
}

}  // namespace

bool RegisterV1FlagValidator(const bool* flag,
                             bool (*validator)(const char*, bool)) {
  return AttachValidator(flag, validator);
}
bool RegisterV1FlagValidator(const int32_t* flag,
                             bool (*validator)(const char*, int32_t)) {
  return AttachValidator(flag, validator);
}
bool RegisterV1FlagValidator(const int64_t* flag,
                             bool (*validator)(const char*, int64_t)) {
  return AttachValidator(flag, validator);
}
bool RegisterV1FlagValidator(const uint64_t* flag,
                             bool (*validator)(const char*, int64_t)) {
  return AttachValidator(flag, validator);
}
bool RegisterV1FlagValidator(const double* flag,
                             bool (*validator)(const char*, double)) {
  return AttachValidator(flag, validator);
}
bool RegisterV1FlagValidator(const std::string* flag,
                             bool (*validator)(const char*,
                                               const std::string&)) {
  return AttachValidator(flag, validator);
}

}  // namespace base
