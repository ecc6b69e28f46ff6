#ifndef AGENT_BASE_TRACE_EVENT_TRACE_ARGUMENTS_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_ARGUMENTS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

namespace protozero {
class Message;
}  // namespace protozero

namespace kelmbase {
namespace trace_event {

class TraceEventMemoryOverhead;

// An argument value that formats itself. Owned by the argument set that
// holds it; destroyed when the event's slot is reset.
class ConvertableToTraceFormat {
 public:
  ConvertableToTraceFormat() = default;
  ConvertableToTraceFormat(const ConvertableToTraceFormat&) = delete;
  ConvertableToTraceFormat& operator=(const ConvertableToTraceFormat&) =
      delete;
  virtual ~ConvertableToTraceFormat() = default;

  // Appends the value's JSON form.
  virtual void AppendAsTraceFormat(std::string* out) const = 0;
  // Writes the value as a message; false when it has no message form.
  virtual bool AppendToProto(protozero::Message* message) const;
  // Counts the value's own memory.
  virtual void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) const;
};

// The serialized bytes of a typed-event message carried as an argument.
struct TraceArgumentMessage {
  std::string bytes;
};

// The heap block that holds an event's copied strings: a size_t length,
// then the strings one after another, each with its NUL. Empty when no
// string needed copying.
class TraceStringStorage {
 public:
  TraceStringStorage() = default;
  TraceStringStorage(const TraceStringStorage&) = delete;
  TraceStringStorage& operator=(const TraceStringStorage&) = delete;
  ~TraceStringStorage() { Reset(0); }

  // Size 0 frees the block; another size reallocates it when it differs.
  void Reset(size_t size);
  // Takes over `other`'s block.
  void MoveFrom(TraceStringStorage* other);

  bool empty() const { return block_ == nullptr; }
  size_t size() const;
  char* data() const;
  // The whole block, header included.
  size_t EstimateMemoryUsage() const;

 private:
  void* block_ = nullptr;
};

// At most two named arguments of an event. Values of kind 8 and 9 are owned
// and released by Reset and the destructor. A set is moved into an event,
// never copied.
class TraceArgumentSet {
 public:
  static constexpr size_t kMaxSize = 2;

  enum Kind : uint8_t {
    kNone = 0,
    kBool = 1,
    kUint = 2,
    kInt = 3,
    kDouble = 4,
    kPointer = 5,
    kString = 6,          // borrowed
    kCopiedString = 7,    // lives in the event's string storage
    kConvertable = 8,     // owned ConvertableToTraceFormat
    kMessage = 9,         // owned TraceArgumentMessage
  };

  union Value {
    uint64_t as_uint;
    int64_t as_int;
    double as_double;
    const void* as_pointer;
    const char* as_string;
    ConvertableToTraceFormat* as_convertable;
    TraceArgumentMessage* as_message;
  };

  TraceArgumentSet() = default;
  TraceArgumentSet(TraceArgumentSet&& other) noexcept;
  TraceArgumentSet& operator=(TraceArgumentSet&& other) noexcept;
  TraceArgumentSet(const TraceArgumentSet&) = delete;
  TraceArgumentSet& operator=(const TraceArgumentSet&) = delete;
  ~TraceArgumentSet() { Reset(); }

  // One argument each; a third is a fatal error. A name must outlive the
  // event unless the event copies it (flag 0x1). A borrowed string must
  // outlive the event; a copied one only the emit call.
  void AddBool(const char* name, bool value);
  void AddUint(const char* name, uint64_t value);
  void AddInt(const char* name, int64_t value);
  void AddDouble(const char* name, double value);
  void AddPointer(const char* name, const void* value);
  void AddString(const char* name, const char* value);
  void AddCopiedString(const char* name, const char* value);
  void AddConvertable(const char* name,
                      std::unique_ptr<ConvertableToTraceFormat> value);
  void AddMessage(const char* name, std::unique_ptr<TraceArgumentMessage> value);

  // The natural kind for a C++ value.
  template <typename T>
  void Add(const char* name, T value) {
    if constexpr (std::is_same_v<T, bool>) {
      AddBool(name, value);
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
      AddUint(name, value);
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
      AddInt(name, static_cast<int64_t>(value));
    } else if constexpr (std::is_floating_point_v<T>) {
      AddDouble(name, value);
    } else if constexpr (std::is_convertible_v<T, const char*>) {
      AddString(name, value);
    } else {
      static_assert(std::is_pointer_v<T>, "unsupported argument type");
      AddPointer(name, value);
    }
  }

  // Releases the owned values; the count becomes 0.
  void Reset() {
    if (count_ != 0)
      ReleaseValues();
  }

  // Whether a value lives in the event's string storage (kind 7).
  bool HasCopiedStrings() const {
    for (size_t i = 0; i < count_; ++i) {
      if (kinds_[i] == kCopiedString)
        return true;
    }
    return false;
  }

  size_t size() const { return count_; }
  Kind kind(size_t i) const { return static_cast<Kind>(kinds_[i]); }
  const char* name(size_t i) const { return names_[i]; }
  const Value& value(size_t i) const { return values_[i]; }

  // Copies the strings that must outlive the caller into `storage` and
  // points the fields at the copies. With `copy_all` (event flag 0x1)
  // borrowed string values become copied ones and the event name, scope and
  // argument names are copied too.
  void CopyStringsTo(TraceStringStorage* storage, bool copy_all,
                     const char** name, const char** scope);

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) const;

 private:
  Value& Append(const char* name, Kind kind);
  void ReleaseValues();

  uint8_t count_ = 0;
  uint8_t kinds_[kMaxSize] = {};
  const char* names_[kMaxSize] = {};
  Value values_[kMaxSize] = {};
};

// Appends the JSON form of one argument value to `out`.
void AppendArgumentAsJson(const TraceArgumentSet::Value& value,
                          TraceArgumentSet::Kind kind, std::string* out);

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_ARGUMENTS_H_
